#pragma once
// One scale session: a transfer engine and the link it sends on. Any number may live in one
// process; nothing in a session is shared with another.

#include "Link.h"
#include "Transfer.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>

class TDatabaseTable;

class TScaleSession : public QObject, private ITransferHost {
  Q_OBJECT

 public:
  // A view (the main window) supplies the table and the database kind, and shows whether the
  // transfer is stoppable.
  TScaleSession(std::unique_ptr<TLink> link, ITransferView& view, QObject* parent = nullptr);
  // Sends a fixed table as the database kind at `kindPosition`, with nothing on screen.
  TScaleSession(std::unique_ptr<TLink> link, std::shared_ptr<const TDatabaseTable> table, int kindPosition,
                QObject* parent = nullptr);
  ~TScaleSession() override;

  TTransfer& Engine() { return engine_; }
  const TTransfer& Engine() const { return engine_; }
  TLink& Link() { return *link_; }
  const TLink& Link() const { return *link_; }

  // Starts a transfer unless one is stoppable.
  void Start();
  // Stops a stoppable transfer.
  void Stop();
  bool Running() const { return engine_.Stoppable(); }

  // The link ended by itself (`what`, e.g. "The serial device went away"): a running transfer
  // fails at once, naming the command it stood at.
  void LinkLost(const std::string& what);
  // The text this session's scale sent; its link's TextReceived arrives here.
  void HandleReply(const std::string& text, int length) { engine_.HandleReply(text, length); }
  void SendOrder(const std::string& command) override { link_->Send(command); }
  // Converts each row's text on its way to the wire (the scale's code page); none sends it as it is.
  void SetRowEncoder(std::function<std::string(std::string)> encoder) { rowEncoder_ = std::move(encoder); }

 private:
  TScaleSession(std::unique_ptr<TLink> link, std::unique_ptr<ITransferView> ownView, QObject* parent);
  void ReceiveFromLink();

  int RowCount() const override { return view_.RowCount(); }
  std::string RowText(int row) const override {
    return rowEncoder_ ? rowEncoder_(view_.RowText(row)) : view_.RowText(row);
  }
  int DatabaseKindPosition() const override { return view_.DatabaseKindPosition(); }
  void ShowStoppable(bool stoppable) override { view_.ShowStoppable(stoppable); }

  std::unique_ptr<ITransferView> ownView_;
  ITransferView& view_;
  std::unique_ptr<TLink> link_;
  TTransfer engine_;
  std::function<std::string(std::string)> rowEncoder_;
};

// Sets the engine's answer watchdog and retry limit from the settings (seconds and counts).
void SetTransferLimits(TTransfer& engine, const TTransferSettings& settings);
