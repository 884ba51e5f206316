#include "Report.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {
QString Text(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

QJsonObject TargetJson(const TTargetOutcome& outcome) {
  const TTransferRecord& record = outcome.Record;
  return {
      {"name", Text(outcome.Name)},
      {"target", Text(outcome.Target)},
      {"result", Text(std::string(ResultText(record.Result)))},
      {"records_sent", record.RecordsSent},
      {"resends", record.Resends},
      {"unexpected_answers", record.UnexpectedAnswers},
      {"ignored_datagrams", record.IgnoredDatagrams},
      {"seconds", qRound64(record.Seconds * 1000) / 1000.0},
      {"error", Succeeded(record.Result) ? QJsonValue() : QJsonValue(Text(record.Reason))},
  };
}
}  // namespace

std::string ReportJson(const std::string& file, const std::string& kind, int rows,
                       const std::vector<TTargetOutcome>& outcomes, int ignoredDatagrams) {
  QJsonArray targets;
  for (const TTargetOutcome& outcome : outcomes) targets.append(TargetJson(outcome));
  const QJsonObject report{
      {"file", Text(file)},
      {"kind", Text(kind)},
      {"rows", rows},
      {"ignored_datagrams", ignoredDatagrams},
      {"targets", targets},
  };
  return QJsonDocument(report).toJson(QJsonDocument::Indented).toStdString();
}
