#include "Session.h"

#include "DatabaseTable.h"

#include <algorithm>
#include <climits>

namespace {
// The table and kind of a session without a window, which shows nothing.
class TFixedTableView : public ITransferView {
 public:
  TFixedTableView(std::shared_ptr<const TDatabaseTable> table, int kindPosition)
      : table_(std::move(table)), kindPosition_(kindPosition) {}

  int RowCount() const override { return table_->RowCount(); }
  std::string RowText(int row) const override { return table_->RowText(row); }
  int DatabaseKindPosition() const override { return kindPosition_; }
  void ShowStoppable(bool) override {}

 private:
  std::shared_ptr<const TDatabaseTable> table_;
  int kindPosition_;
};
}  // namespace

TScaleSession::TScaleSession(std::unique_ptr<TLink> link, ITransferView& view, QObject* parent)
    : QObject(parent), view_(view), link_(std::move(link)), engine_(*this) {
  ReceiveFromLink();
}

TScaleSession::TScaleSession(std::unique_ptr<TLink> link, std::shared_ptr<const TDatabaseTable> table,
                             int kindPosition, QObject* parent)
    : TScaleSession(std::move(link), std::make_unique<TFixedTableView>(std::move(table), kindPosition), parent) {}

TScaleSession::TScaleSession(std::unique_ptr<TLink> link, std::unique_ptr<ITransferView> ownView, QObject* parent)
    : QObject(parent), ownView_(std::move(ownView)), view_(*ownView_), link_(std::move(link)), engine_(*this) {
  ReceiveFromLink();
}

void TScaleSession::ReceiveFromLink() {
  connect(link_.get(), &TLink::TextReceived, this,
          [this](const std::string& text) { HandleReply(text, static_cast<int>(text.size())); });
  connect(link_.get(), &TLink::Lost, this, [this](const std::string& what) { LinkLost(what); });
}

void TScaleSession::LinkLost(const std::string& what) { engine_.GiveUp(what + " (" + engine_.WaitingCommand() + ")."); }

TScaleSession::~TScaleSession() = default;

void TScaleSession::Start() {
  if (!Running()) engine_.Start();
}

void TScaleSession::Stop() { engine_.Stop(); }

void SetTransferLimits(TTransfer& engine, const TTransferSettings& settings) {
  constexpr int32_t kLongestTimeoutSeconds = INT_MAX / 1000;
  engine.SetAnswerTimeoutMs(std::clamp(settings.AnswerTimeout, 0, kLongestTimeoutSeconds) * 1000);
  // In config.xml 0 resends without limit; the engine reads 0 as "no resend at all".
  engine.SetRecordRetries(settings.RecordRetries > 0 ? settings.RecordRetries : TTransfer::kUnlimitedRetries);
}
