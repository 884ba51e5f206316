#include "History.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string WithSlash(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory;
}

std::string Failure(const std::string& what, const std::string& path, int error) {
  return "The transfer history cannot be written: " + what + " " + path + ": " + std::strerror(error);
}

void CreateDirectories(const std::string& directory) {
  for (size_t slash = directory.find('/', 1); slash != std::string::npos; slash = directory.find('/', slash + 1)) {
    const std::string part = directory.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) throw EHistory(Failure("cannot create", part, errno));
  }
}

}  // namespace

QString TimeWithOffset(const QDateTime& time) {
  const int offset = time.offsetFromUtc();
  const int minutes = std::abs(offset) / 60;
  return time.toOffsetFromUtc(offset).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
         QLatin1Char(offset < 0 ? '-' : '+') +
         QStringLiteral("%1:%2").arg(minutes / 60, 2, 10, QLatin1Char('0')).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

std::string HistoryTime(const QDateTime& time) { return TimeWithOffset(time).toStdString(); }

namespace {
QString Text(const std::string& text) { return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())); }
std::string Bytes(const QJsonValue& value) { return value.toString().toLocal8Bit().toStdString(); }
}  // namespace

std::string StateDirectory() {
  if (const char* named = std::getenv("SCALEDB_STATE_DIR"); named && *named == '/') return WithSlash(named);
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state == '/') return WithSlash(state) + "scaledb/";
  const char* home = std::getenv("HOME");
  return WithSlash(home ? home : "") + ".local/state/scaledb/";
}

std::string HistoryPath() { return StateDirectory() + "transfers.jsonl"; }

std::string HistoryLine(const TTransferRecord& record) {
  QJsonObject line{
      {"started", TimeWithOffset(record.Started)},
      {"program", Text(record.Program)},
      {"file", Text(record.File)},
      {"link", Text(record.Link)},
      {"kind", Text(record.Kind)},
      {"rows", record.Rows},
      {"records_sent", record.RecordsSent},
      {"resends", record.Resends},
      {"unexpected_answers", record.UnexpectedAnswers},
      {"ignored_datagrams", record.IgnoredDatagrams},
      {"result", Text(std::string(ResultText(record.Result)))},
      {"seconds", qRound64(record.Seconds * 1000) / 1000.0},
      {"reason", record.Reason.empty() ? QJsonValue() : QJsonValue(Text(record.Reason))},
      {"digest", record.Digest.empty() ? QJsonValue() : QJsonValue(Text(record.Digest))},
  };
  return QJsonDocument(line).toJson(QJsonDocument::Compact).toStdString();
}

bool ParseHistoryLine(const std::string& text, TTransferRecord& record) {
  const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text));
  if (!document.isObject()) return false;
  const QJsonObject line = document.object();
  record.Started = QDateTime::fromString(line["started"].toString(), Qt::ISODateWithMs);
  const std::optional<TTransferResult> result = ResultFromText(Bytes(line["result"]));
  if (!record.Started.isValid() || !line["result"].isString() || !result) return false;
  record.Program = Bytes(line["program"]);
  record.File = Bytes(line["file"]);
  record.Link = Bytes(line["link"]);
  record.Kind = Bytes(line["kind"]);
  record.Rows = line["rows"].toInt();
  record.RecordsSent = line["records_sent"].toInt();
  record.Resends = line["resends"].toInt();
  record.UnexpectedAnswers = line["unexpected_answers"].toInt();
  record.IgnoredDatagrams = line["ignored_datagrams"].toInt();
  record.Result = *result;
  record.Seconds = line["seconds"].toDouble();
  record.Reason = Bytes(line["reason"]);
  record.Digest = Bytes(line["digest"]);
  return true;
}

namespace {
// A line torn by a crash or a full disk would swallow the next one; it gets its line feed first.
bool EndsInLineFeed(int file) {
  struct stat status {};
  if (fstat(file, &status) != 0 || status.st_size == 0) return true;
  char last = '\n';
  return pread(file, &last, 1, status.st_size - 1) != 1 || last == '\n';
}
}  // namespace

void AppendHistory(const std::string& path, const TTransferRecord& record) {
  CreateDirectories(path.substr(0, path.rfind('/') + 1));
  const int file = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (file < 0) throw EHistory(Failure("cannot open", path, errno));
  // One write per line, so lines of programs appending at once never interleave.
  const std::string line = (EndsInLineFeed(file) ? "" : "\n") + HistoryLine(record) + "\n";
  const ssize_t written = write(file, line.data(), line.size());
  const int error = errno;
  close(file);
  if (written != static_cast<ssize_t>(line.size())) throw EHistory(Failure("cannot append to", path, written < 0 ? error : ENOSPC));
}

std::vector<TTransferRecord> ReadHistory(const std::string& path, size_t count) {
  std::ifstream file(path);
  std::deque<TTransferRecord> last;
  TTransferRecord record;
  for (std::string line; std::getline(file, line);) {
    if (!ParseHistoryLine(line, record)) continue;
    last.push_front(record);
    if (last.size() > count) last.pop_back();
  }
  return {last.begin(), last.end()};
}
