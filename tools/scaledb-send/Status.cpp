#include "Status.h"

#include "History.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {
const char kTimeFormat[] = "yyyy-MM-dd HH:mm";

std::string Time(const std::optional<QDateTime>& time) {
  return time ? time->toString(kTimeFormat).toStdString() : "-";
}

std::string LastAttempt(const TScaleState& state) {
  if (!state.LastAttempt) return "-";
  std::string text = Time(state.LastAttempt) + " " + std::string(ResultText(state.LastResult));
  if (!state.LastReason.empty()) text += ": " + state.LastReason;
  return text;
}

QString Text(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }

QJsonValue TimeValue(const std::optional<QDateTime>& time) {
  return time ? QJsonValue(TimeWithOffset(*time)) : QJsonValue();
}

// Characters, not bytes, decide the width: names and reasons may be UTF-8.
size_t Width(const std::string& text) { return static_cast<size_t>(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).size()); }
}  // namespace

std::string StatusTable(const std::vector<TScaleState>& states, const std::string& digest) {
  std::vector<std::vector<std::string>> rows{{"NAME", "LINK", "HOLDS", "LAST SUCCESS", "LAST ATTEMPT"}};
  for (const TScaleState& state : states)
    rows.push_back({state.Name, state.Link, HoldsText(state, digest), Time(state.LastSuccess), LastAttempt(state)});
  std::vector<size_t> widths(4, 0);
  for (const auto& row : rows)
    for (size_t column = 0; column < widths.size(); ++column) widths[column] = std::max(widths[column], Width(row[column]));
  std::string table;
  for (const auto& row : rows) {
    for (size_t column = 0; column < widths.size(); ++column)
      table += row[column] + std::string(widths[column] - Width(row[column]) + 2, ' ');
    table += row.back() + "\n";
  }
  return table;
}

std::string StatusJson(const std::vector<TScaleState>& states, const std::string& file, const std::string& digest) {
  QJsonArray scales;
  for (const TScaleState& state : states) {
    scales.append(QJsonObject{
        {"name", Text(state.Name)},
        {"link", Text(state.Link)},
        {"scale", Text(state.Key)},
        {"holds", Text(HoldsText(state, digest))},
        {"digest", state.Holds == TScaleState::THolds::NeverSent ? QJsonValue() : QJsonValue(Text(state.Digest))},
        {"last_success", TimeValue(state.LastSuccess)},
        {"last_success_program", state.LastSuccess ? QJsonValue(Text(state.LastSuccessProgram)) : QJsonValue()},
        {"last_attempt", TimeValue(state.LastAttempt)},
        {"last_result", state.LastAttempt ? QJsonValue(Text(std::string(ResultText(state.LastResult)))) : QJsonValue()},
        {"last_reason", state.LastReason.empty() ? QJsonValue() : QJsonValue(Text(state.LastReason))},
    });
  }
  const QJsonObject document{{"file", file.empty() ? QJsonValue() : QJsonValue(Text(file))},
                             {"digest", digest.empty() ? QJsonValue() : QJsonValue(Text(digest))},
                             {"scales", scales}};
  return QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString();
}

bool AllHold(const std::vector<TScaleState>& states, const std::string& digest) {
  return digest.empty() || std::all_of(states.begin(), states.end(), [&](const TScaleState& state) {
           return state.Holds == TScaleState::THolds::Content && state.Digest == digest;
         });
}
