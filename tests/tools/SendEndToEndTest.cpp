// scaledb-send run as a user runs it, against scale simulators on a pty, TCP and UDP.

#include "DatabaseTable.h"
#include "NetTestSupport.h"
#include "Sanitized.h"
#include "ScaleSimProcess.h"
#include "TempDir.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {
constexpr int kRunTimeoutMs = 60000;

struct TResult {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

QStringList Words(const std::vector<std::string>& words) {
  QStringList list;
  for (const std::string& word : words) list << QString::fromLocal8Bit(word.c_str());
  return list;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

size_t LinesStartingWith(const std::string& text, const std::string& prefix) {
  size_t count = 0;
  for (const std::string& line : Lines(text)) count += line.starts_with(prefix);
  return count;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The wire bytes of a whole transfer of `file`.
std::string Wire(const std::string& file, const std::string& start, const std::string& framing) {
  const TDatabaseTable table = TDatabaseTable::Parse(file);
  std::string wire = start + framing;
  for (int row = 0; row < table.RowCount(); ++row) wire += "Sr" + table.RowText(row) + framing;
  return wire + "Se" + framing;
}

std::string ProductsFile(int rows) {
  std::string file;
  for (int i = 1; i <= rows; ++i) file += std::to_string(i) + ";Produkt \xB3\xF3" "d\xBF " + std::to_string(i) + ";4.99\n";
  return file + "\n" + std::to_string(rows + 1) + "\n";  // an empty line and a short one
}

int FreeUdpPort() { return TUdpPeer().Port(); }

class SendEndToEnd : public ::testing::Test {
 protected:
  SendEndToEnd() {
    environment.insert("XDG_STATE_HOME", QString::fromStdString(dir.File("state")));
    environment.remove("SCALEDB_PORTS_DIR");
  }

  TResult Run(const std::vector<std::string>& words, const std::string& program = SCALEDB_SEND_PATH) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QString::fromStdString(program), Words(words));
    EXPECT_TRUE(process.waitForFinished(kRunTimeoutMs)) << "scaledb-send did not end";
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(), process.readAllStandardError().toStdString()};
  }

  static QJsonArray ReportTargets(const std::string& json) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(json)).object()["targets"].toArray();
  }

  TTempDir dir;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};
}  // namespace

TEST_F(SendEndToEnd, PtyTcpAndTwoUdpScalesGetTheTableByteForByteWhileARefusedTargetFailsAlone) {
  const std::string file = ProductsFile(30);
  dir.Write("products.csv", file);
  const int udpLocalPort = FreeUdpPort();
  const std::string replyPort = std::to_string(udpLocalPort);
  TScaleSimProcess serial({"--pty", "--raw", dir.File("serial.raw")});
  TScaleSimProcess tcp({"--tcp", "0", "--raw", dir.File("tcp.raw")});
  TScaleSimProcess udp1({"--udp", "0", "--udp-reply-port", replyPort, "--raw", dir.File("udp1.raw")});
  TScaleSimProcess udp2({"--udp", "0", "--udp-reply-port", replyPort, "--raw", dir.File("udp2.raw")});
  const TRefusingPort refused;
  const std::string tcpTarget = "tcp:127.0.0.1:" + std::to_string(tcp.TcpPort());
  const std::string refusedPort = std::to_string(refused.Port());

  const TResult result = Run({"--pace", "2", "--udp-local-port", replyPort, "--json", dir.File("report.json"),
                              dir.File("products.csv"), "Wagi 1=serial:" + serial.PtyPath() + "@19200", tcpTarget,
                              "udp1=udp:127.0.0.1:" + std::to_string(udp1.UdpPort()),
                              "udp2=udp:127.0.0.1:" + std::to_string(udp2.UdpPort()),
                              "refused=tcp:127.0.0.1:" + refusedPort});
  for (TScaleSimProcess* sim : {&serial, &tcp, &udp1, &udp2}) sim->Stop();

  EXPECT_EQ(result.ExitCode, 1) << result.Err;
  EXPECT_EQ(dir.Read("serial.raw"), Wire(file, "SbP", "\r\n"));
  EXPECT_EQ(dir.Read("tcp.raw"), Wire(file, "SbP", "\r\n"));
  const std::string datagrams = std::string(1, '\0') + Wire(file, "SbP", std::string(1, '\0'));
  EXPECT_EQ(dir.Read("udp1.raw"), datagrams) << "each UDP scale got its own commands and answered them";
  EXPECT_EQ(dir.Read("udp2.raw"), datagrams);

  const QJsonArray targets = ReportTargets(dir.Read("report.json"));
  ASSERT_EQ(targets.size(), 5);
  for (int i = 0; i < 4; ++i) {
    const QJsonObject target = targets[i].toObject();
    EXPECT_EQ(target["result"].toString(), "sent") << i;
    EXPECT_EQ(target["records_sent"].toInt(), 31) << i;
    EXPECT_EQ(target["resends"].toInt(), 0) << i;
    EXPECT_TRUE(target["error"].isNull()) << i;
  }
  EXPECT_EQ(targets[0].toObject()["name"].toString(), "Wagi 1");
  EXPECT_EQ(targets[1].toObject()["name"].toString().toStdString(), tcpTarget);
  const QJsonObject failed = targets[4].toObject();
  EXPECT_EQ(failed["result"].toString(), "failed");
  EXPECT_EQ(failed["error"].toString().toStdString(), "Cannot connect to 127.0.0.1:" + refusedPort + ": Connection refused.");

  EXPECT_TRUE(Contains(result.Err, "Wagi 1: sending 31 records to serial:" + serial.PtyPath() + "@19200\n")) << result.Err;
  EXPECT_TRUE(Contains(result.Err, "udp1: 4/31 records (10%)\n")) << result.Err;
  EXPECT_TRUE(Contains(result.Err, "udp1: sent 31 records in ")) << result.Err;
  EXPECT_EQ(LinesStartingWith(result.Err, "udp1: "), 11u) << "its start, every 10 % and its end:\n" << result.Err;
  EXPECT_TRUE(Contains(result.Err, "refused: failed to connect: Cannot connect to 127.0.0.1:" + refusedPort +
                                       ": Connection refused.\n")) << result.Err;
  const std::string history = dir.Read("state/scaledb/transfers.jsonl");
  EXPECT_EQ(LinesStartingWith(history, "{"), 4u) << "one line per transfer that started:\n" << history;
  EXPECT_EQ(Lines(history).size(), 4u) << history;
  EXPECT_FALSE(Contains(history, ":" + refusedPort + "\"")) << history;
  for (const std::string& line : Lines(history))
    EXPECT_TRUE(Contains(line, "\"program\":\"scaledb-send\"") && Contains(line, "\"result\":\"sent\"")) << line;
}

TEST_F(SendEndToEnd, AHistoryThatCannotBeWrittenIsSaidOnceAndFailsNothing) {
  dir.Write("products.csv", "a\nb\n");
  dir.Write("not-a-folder", "");
  environment.insert("XDG_STATE_HOME", QString::fromStdString(dir.File("not-a-folder")));
  TScaleSimProcess first({"--tcp", "0"});
  TScaleSimProcess second({"--tcp", "0"});
  const TResult result = Run({"--pace", "2", dir.File("products.csv"), "tcp:127.0.0.1:" + std::to_string(first.TcpPort()),
                              "tcp:127.0.0.1:" + std::to_string(second.TcpPort())});
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_EQ(LinesStartingWith(result.Err, "scaledb-send: The transfer history cannot be written: "), 1u) << result.Err;
  EXPECT_EQ(LinesStartingWith(result.Err, "tcp:127.0.0.1:" + std::to_string(first.TcpPort()) + ": sent 2 records in "), 1u)
      << result.Err;
  EXPECT_EQ(LinesStartingWith(result.Err, "tcp:127.0.0.1:" + std::to_string(second.TcpPort()) + ": sent 2 records in "), 1u)
      << result.Err;
}

TEST_F(SendEndToEnd, ASilentScaleARefusingScaleAndLinksThatCannotOpenEachFailOnTheirOwn) {
  dir.Write("products.csv", "a\nb\nc\nd\ne\n");
  TScaleSimProcess silent({"--tcp", "0", "--drop-every", "1"});
  TScaleSimProcess refusing({"--tcp", "0", "--garble-every", "1", "--log", dir.File("refusing.log")});
  TScaleSimProcess closing({"--tcp", "0", "--close-after", "2"});
  const TUdpPeer portTaken;

  const TResult result = Run({"--pace", "2", "--answer-timeout", "0.3", "--retries", "2", "--udp-local-port",
                              std::to_string(portTaken.Port()), "--json", "-", dir.File("products.csv"),
                              "silent=tcp:127.0.0.1:" + std::to_string(silent.TcpPort()),
                              "refusing=tcp:127.0.0.1:" + std::to_string(refusing.TcpPort()),
                              "nohost=tcp:no-such-host.invalid:4001", "udp=udp:127.0.0.1:9",
                              "closing=tcp:127.0.0.1:" + std::to_string(closing.TcpPort())});
  refusing.Stop();

  EXPECT_EQ(result.ExitCode, 1) << result.Err;
  const QJsonArray targets = ReportTargets(result.Out);
  ASSERT_EQ(targets.size(), 5) << result.Out;
  const std::string silentError = "The scale did not answer within 0.3 s (record 1 of 5).";
  EXPECT_EQ(targets[0].toObject()["error"].toString().toStdString(), silentError);
  EXPECT_EQ(targets[1].toObject()["error"].toString().toStdString(),
            "The scale refused record 1 of 5 (last answer: \"Mr.\").");
  EXPECT_EQ(targets[1].toObject()["resends"].toInt(), 2);
  EXPECT_EQ(dir.Read("refusing.log"), "SbP\nSra\nSra\nSra\n") << "the record went out exactly 2 + 1 times";
  EXPECT_TRUE(Contains(targets[2].toObject()["error"].toString().toStdString(),
                       "Cannot connect to no-such-host.invalid:4001: host not found"));
  EXPECT_TRUE(Contains(targets[3].toObject()["error"].toString().toStdString(),
                       "local port " + std::to_string(portTaken.Port()) + " is already in use"));
  EXPECT_EQ(targets[4].toObject()["error"].toString(), "The link to the scale closed (record 3 of 5).");
  EXPECT_EQ(targets[4].toObject()["records_sent"].toInt(), 2);
  for (const auto& target : targets) EXPECT_EQ(target.toObject()["result"].toString(), "failed");
  EXPECT_TRUE(Contains(result.Err, "silent: failed at record 1 of 5: " + silentError + "\n")) << result.Err;
  EXPECT_TRUE(Contains(result.Err, "udp: failed to connect: The UDP connection cannot be opened")) << result.Err;
}

TEST_F(SendEndToEnd, AnEmptyRowSendsTheEndCommandAndFailsAsInTheWindow) {
  dir.Write("empty.csv", "");
  TScaleSimProcess scale({"--tcp", "0", "--raw", dir.File("scale.raw")});
  const TResult result = Run({"--pace", "2", dir.File("empty.csv"), "tcp:127.0.0.1:" + std::to_string(scale.TcpPort())});
  scale.Stop();
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_EQ(dir.Read("scale.raw"), "SbP\r\nSe\r\n");
  EXPECT_TRUE(Contains(result.Err, ": failed at record 1 of 1: Database could not be sent to scale.\n")) << result.Err;
}

TEST_F(SendEndToEnd, WithoutATargetTheLinkOfConfigXmlAndTheSerialSettingsFileIsUsed) {
  const std::string bin = dir.File("bin/");
  std::filesystem::create_directories(bin);
  std::filesystem::copy_file(SCALEDB_SEND_PATH, bin + "scaledb-send");
  const std::string file = ProductsFile(5);
  dir.Write("products.csv", file);

  TScaleSimProcess tcp({"--tcp", "0", "--raw", dir.File("tcp.raw")});
  const std::string ethernet = "<RS232Config><Interface><Kind>Eth</Kind><Protocol>TCP</Protocol><Host>127.0.0.1</Host>"
                               "<Port>" + std::to_string(tcp.TcpPort()) + "</Port></Interface></RS232Config>";
  dir.Write("bin/config.xml", ethernet);
  const TResult overTcp = Run({"--pace", "2", "--kind", "users", "--json", "-", dir.File("products.csv")}, bin + "scaledb-send");
  tcp.Stop();
  EXPECT_EQ(overTcp.ExitCode, 0) << overTcp.Err;
  EXPECT_EQ(dir.Read("tcp.raw"), Wire(file, "SbU", "\r\n"));
  EXPECT_EQ(ReportTargets(overTcp.Out)[0].toObject()["target"].toString().toStdString(),
            "tcp:127.0.0.1:" + std::to_string(tcp.TcpPort()));
  EXPECT_EQ(dir.Read("bin/config.xml"), ethernet) << "the settings are read, never written";

  TScaleSimProcess serial({"--com", "3", "--ports-dir", bin + "ports", "--raw", dir.File("serial.raw")});
  dir.Write("bin/config.xml", "<RS232Config><Interface><Kind>COM</Kind></Interface></RS232Config>");
  dir.Write("bin/RuzOzodArir.ini", "[ComPort1]\nPort=COM3\nBaudRate=19200\nDataBits=7\nParity=Even\n");
  const TResult overSerial = Run({"--pace", "2", "--json", "-", dir.File("products.csv")}, bin + "scaledb-send");
  serial.Stop();
  EXPECT_EQ(overSerial.ExitCode, 0) << overSerial.Err;
  EXPECT_EQ(dir.Read("serial.raw"), Wire(file, "SbP", "\r\n"));
  EXPECT_EQ(ReportTargets(overSerial.Out)[0].toObject()["target"].toString(), "serial:COM3@19200");

  dir.Write("bin/config.xml", "<RS232Config><Interface><Kind>COM</Kind></Interface>");
  const TResult unreadable = Run({dir.File("products.csv")}, bin + "scaledb-send");
  EXPECT_EQ(unreadable.ExitCode, 2);
  EXPECT_TRUE(Contains(unreadable.Err, bin + "config.xml cannot be read (it is not well-formed XML")) << unreadable.Err;
}

TEST_F(SendEndToEnd, AConnectionNeverAnsweredOrWithoutADescriptorFailsInWordsAndAtOnce) {
  dir.Write("products.csv", ProductsFile(3));
  const TUnansweredPort unanswered;
  const TResult silent = Run({"--answer-timeout", "0.5", dir.File("products.csv"),
                              "tcp:127.0.0.1:" + std::to_string(unanswered.Port())});
  EXPECT_EQ(silent.ExitCode, 1);
  EXPECT_TRUE(Contains(silent.Err, ": failed to connect: could not connect within 0.5 s\n")) << silent.Err;
  if (kSanitized) GTEST_SKIP() << "a process without a descriptor to spare trips the sanitizer's own checks";

  std::vector<std::unique_ptr<TRefusingPort>> refusing;
  std::string targets;
  for (int i = 0; i < 100; ++i) {
    refusing.push_back(std::make_unique<TRefusingPort>());
    targets += "s" + std::to_string(i) + "=tcp:127.0.0.1:" + std::to_string(refusing.back()->Port()) + "\n";
  }
  dir.Write("many.targets", targets);
  const TResult crowded = Run({"-c", "ulimit -n 160 && exec \"$0\" \"$@\"", SCALEDB_SEND_PATH, "--pace", "2",
                               "--json", "-", "--targets", dir.File("many.targets"), dir.File("products.csv")},
                              "/bin/sh");
  EXPECT_EQ(crowded.ExitCode, 1) << crowded.Err;
  int refused = 0, crowdedOut = 0;
  for (const QJsonValue& target : ReportTargets(crowded.Out)) {
    const std::string error = target.toObject()["error"].toString().toStdString();
    refused += Contains(error, "Connection refused");
    crowdedOut += error.starts_with("too many open files: ");
    EXPECT_TRUE(Contains(error, "Connection refused") || error.starts_with("too many open files: ")) << error;
  }
  EXPECT_GT(refused, 0) << "the targets that got a descriptor were served";
  EXPECT_GT(crowdedOut, 0);
}

TEST_F(SendEndToEnd, TheReportReplacesThePreviousOneWholeOrNotAtAll) {
  dir.Write("products.csv", ProductsFile(400));
  dir.Write("report.json", "previous");
  TScaleSimProcess slow({"--tcp", "0", "--delay", "20"});
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(SCALEDB_SEND_PATH, Words({"--json", dir.File("report.json"), dir.File("products.csv"),
                                          "tcp:127.0.0.1:" + std::to_string(slow.TcpPort())}));
  ASSERT_TRUE(process.waitForStarted());
  process.setReadChannel(QProcess::StandardError);
  process.waitForReadyRead(10000);
  process.kill();
  process.waitForFinished();
  EXPECT_EQ(dir.Read("report.json"), "previous") << "a killed run keeps the previous report";
  int reports = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    reports += entry.path().filename().string().starts_with("report.json");
  EXPECT_EQ(reports, 1) << "and leaves nothing beside it";

  dir.Write("short.csv", "a\n");
  const TResult full = Run({"--pace", "2", "--json", "/dev/full", dir.File("short.csv"),
                            "tcp:127.0.0.1:" + std::to_string(slow.TcpPort())});
  EXPECT_EQ(full.ExitCode, 1);
  EXPECT_TRUE(Contains(full.Err, "scaledb-send: cannot write the report /dev/full: ")) << full.Err;
}

TEST_F(SendEndToEnd, ADryRunPrintsEveryCommandAsItGoesOnTheWireAndOpensNothing) {
  dir.Write("odd.csv", "a;b;c\r\n\nx\n\xB3\\\x01;z\n");
  const TRefusingPort nobody;
  const TResult result = Run({"--dry-run", "--kind", "statuses", dir.File("odd.csv"),
                              "tcp:127.0.0.1:" + std::to_string(nobody.Port()), "udp:127.0.0.1:9"});
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_EQ(result.Err, "");
  EXPECT_EQ(result.Out,
            "SbS\\r\\n\n"
            "Sra;b;c\\r\\n\n"
            "Srx;;\\r\\n\n"
            "Sr\\263\\\\\\001;z;\\r\\n\n"
            "Se\\r\\n\n"
            "SbS\\0\n"
            "Sra;b;c\\0\n"
            "Srx;;\\0\n"
            "Sr\\263\\\\\\001;z;\\0\n"
            "Se\\0\n");
}

TEST_F(SendEndToEnd, PortsListsAComLinkOfThePortsFolderWithItsPtyAsTextAndAsJsonAndSaysAListItCouldNotWrite) {
  TScaleSimProcess scale({"--pty", "--com", "5", "--ports-dir", dir.File("ports")});
  environment.insert("SCALEDB_PORTS_DIR", QString::fromStdString(dir.File("ports")));
  const TResult text = Run({"--ports"});
  const TResult json = Run({"--ports", "--json"});
  scale.Stop();

  EXPECT_EQ(text.ExitCode, 0) << text.Err;
  std::vector<std::string> words;
  for (const std::string& line : Lines(text.Out)) {
    if (!line.starts_with(scale.PtyPath() + " ")) continue;
    std::istringstream cells(line);
    for (std::string word; cells >> word;) words.push_back(word);
  }
  ASSERT_GE(words.size(), 3u) << text.Out;
  EXPECT_EQ(words[1], "COM5") << text.Out;
  EXPECT_EQ(words[2], "pty") << text.Out;

  EXPECT_EQ(json.ExitCode, 0) << json.Err;
  QJsonObject pty;
  for (const auto& port : QJsonDocument::fromJson(QByteArray::fromStdString(json.Out)).object()["ports"].toArray())
    if (port.toObject()["device"].toString().toStdString() == scale.PtyPath()) pty = port.toObject();
  ASSERT_FALSE(pty.isEmpty()) << json.Out;
  EXPECT_EQ(pty["com"].toArray(), QJsonArray({"COM5"}));
  EXPECT_TRUE(pty["may_open"].toBool());
  EXPECT_EQ(pty["holders"].toArray()[0].toObject()["program"].toString(), "scale-sim") << json.Out;

  const TResult full = Run({"-c", "exec \"$0\" \"$@\" >/dev/full", SCALEDB_SEND_PATH, "--ports"}, "/bin/sh");
  EXPECT_EQ(full.ExitCode, 1);
  EXPECT_EQ(full.Err, "scaledb-send: cannot write the port list to standard output: No space left on device\n");
}

TEST_F(SendEndToEnd, UsageErrorsAndUnreadableFilesExitTwoAndSendNothing) {
  dir.Write("products.csv", "a\n");
  dir.Write("bad.targets", "tcp:127.0.0.1:1\nfront=tcp:127.0.0.1\n");
  dir.Write("huge.targets", std::string((1 << 20) - 1, '#') + "\n" + "tcp:127.0.0.1:1\n");
  std::filesystem::create_directories(dir.File("folder"));
  TScaleSimProcess scale({"--tcp", "0", "--raw", dir.File("scale.raw")});
  const std::string good = "tcp:127.0.0.1:" + std::to_string(scale.TcpPort());
  const std::string products = dir.File("products.csv");
  dir.Write("good.targets", good + "\n");
  const std::string targets = dir.File("good.targets");
  const struct {
    std::vector<std::string> Words;
    std::string Error;
  } cases[] = {
      {{dir.File("missing.csv"), good}, "Cannot open file \"" + dir.File("missing.csv") + "\": No such file or directory"},
      {{dir.File("folder"), good}, "Cannot open file \"" + dir.File("folder") + "\": Is a directory"},
      {{products, good, "tcp:127.0.0.1"}, "target 'tcp:127.0.0.1': HOST:PORT expected after the kind"},
      {{products, "a=" + good, "a=tcp:127.0.0.1:1"}, "two targets are named 'a'"},
      {{"--targets", dir.File("missing.targets"), products, good}, "cannot read the targets file"},
      {{"--targets", dir.File("bad.targets"), products, good}, dir.File("bad.targets") + ": line 2: target 'front=tcp:127.0.0.1'"},
      {{"--json", dir.File("no/such/folder/report.json"), products, good}, "cannot write the report"},
      {{"--pace", "fast", products, good}, "--pace: 'fast' is not a number"},
      {{"--json", products, products, good}, "the report " + products + " would overwrite " + products},
      {{"--json", targets, "--targets", targets, products}, "the report " + targets + " would overwrite " + targets},
      {{"--json", dir.File("run.out"), "--metrics", dir.File("./run.out"), products, good},
       "the metrics " + dir.File("./run.out") + " would overwrite " + dir.File("run.out")},
      // A dry run opens nothing: should the refusal ever fail, still no datagram leaves.
      {{"--dry-run", products, "udp:255.255.255.255:1001"},
       "udp:255.255.255.255:1001: 255.255.255.255 is a broadcast address; name one scale's own address."},
      {{"--dry-run", products, "udp:224.0.0.9:5000"}, "udp:224.0.0.9:5000: 224.0.0.9 is a multicast address"},
      {{"--dry-run", products, "udp:0.0.0.0:5000"}, "udp:0.0.0.0:5000: 0.0.0.0 is the address of no scale"},
      {{"--ports", products}, "--ports sends nothing: give it no file or target"},
      {{"/dev/zero", good}, "Cannot open file \"/dev/zero\": not a regular file or a pipe"},
      {{"--targets", "/dev/zero", products, good}, "cannot read the targets file /dev/zero: not a regular file or a pipe"},
      {{"--targets", dir.File("folder"), products, good}, "cannot read the targets file " + dir.File("folder") + ": Is a directory"},
      {{"--targets", dir.File("huge.targets"), products, good},
       "cannot read the targets file " + dir.File("huge.targets") + ": larger than 1 MiB"},
  };
  for (const auto& c : cases) {
    const TResult result = Run(c.Words);
    EXPECT_EQ(result.ExitCode, 2) << c.Error;
    EXPECT_TRUE(Contains(result.Err, "scaledb-send: " + c.Error)) << result.Err;
  }
  scale.Stop();
  EXPECT_EQ(dir.Read("scale.raw"), "") << "nothing was sent";
  EXPECT_FALSE(std::filesystem::exists(dir.File("state/scaledb/transfers.jsonl")));
}

TEST_F(SendEndToEnd, RunningOutOfMemoryWhileReadingOrCheckingIsAnErrorInWords) {
  if (kSanitized) GTEST_SKIP() << "an address-space limit cannot be set under a sanitizer";
  dir.Write("sparse.csv", "");
  std::filesystem::resize_file(dir.File("sparse.csv"), std::uintmax_t{1} << 30);  // 1 GiB that takes no disk
  std::string rows(40'000'000, '\n');  // 20 million rows "1"
  for (size_t i = 0; i < rows.size(); i += 2) rows[i] = '1';
  dir.Write("rows.csv", rows);
  const struct {
    std::string Input;  // a shell pipe in front of the program, if any
    std::vector<std::string> Words;
    std::string Said;
  } cases[] = {
      {"", {"--check", dir.File("sparse.csv")}, "scaledb-send: Not enough memory to read file \"" + dir.File("sparse.csv") + "\""},
      {"cat /dev/zero | ", {"--check", "/dev/stdin"}, "scaledb-send: Not enough memory to read file \"/dev/stdin\""},
      {"", {"--check", dir.File("rows.csv")}, "Error: There is not enough memory to check the file."},
      {"", {dir.File("rows.csv"), "tcp:127.0.0.1:1"},
       "scaledb-send: the file cannot be sent: There is not enough memory to check the file."},
  };
  for (const auto& c : cases) {
    // 400 MB: less than the sparse file, enough to read the rows but not to check them.
    std::vector<std::string> words = {"-c", "ulimit -v 400000 && " + c.Input + "exec \"$0\" \"$@\"", SCALEDB_SEND_PATH};
    words.insert(words.end(), c.Words.begin(), c.Words.end());
    const TResult result = Run(words, "/bin/sh");
    EXPECT_EQ(result.ExitCode, 2) << c.Said << "\n" << result.Err;
    EXPECT_TRUE(Contains(result.Out + result.Err, c.Said)) << result.Out << result.Err;
    EXPECT_FALSE(Contains(result.Err, "bad_alloc")) << result.Err;
  }
}

TEST_F(SendEndToEnd, SigtermEndsEveryTargetAsInterruptedAndStillWritesTheReport) {
  dir.Write("products.csv", ProductsFile(200));
  TScaleSimProcess slow({"--tcp", "0", "--delay", "20"});
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(SCALEDB_SEND_PATH, Words({"--pace", "2", "--udp-local-port", std::to_string(FreeUdpPort()), "--json",
                                          dir.File("report.json"), dir.File("products.csv"),
                                          "slow=tcp:127.0.0.1:" + std::to_string(slow.TcpPort()), "mute=udp:127.0.0.1:9"}));
  process.setReadChannel(QProcess::StandardError);
  std::string err;
  while (!Contains(err, "slow: 41/201 records (20%)") && process.waitForReadyRead(10000))
    err += process.readAllStandardError().toStdString();
  ASSERT_TRUE(Contains(err, "slow: 41/201 records (20%)")) << err;
  process.terminate();
  ASSERT_TRUE(process.waitForFinished(10000));
  EXPECT_EQ(process.exitCode(), 1);

  const QJsonArray targets = ReportTargets(dir.Read("report.json"));
  ASSERT_EQ(targets.size(), 2);
  for (const auto& target : targets) {
    EXPECT_EQ(target.toObject()["result"].toString(), "failed");
    EXPECT_EQ(target.toObject()["error"].toString(), "interrupted");
  }
  const int sent = targets[0].toObject()["records_sent"].toInt();
  EXPECT_TRUE(sent >= 41 && sent < 201) << sent;
  err += process.readAllStandardError().toStdString();
  EXPECT_TRUE(Contains(err, "mute: failed at the start command: interrupted\n")) << err;
}

TEST_F(SendEndToEnd, AUtf8FileGoesOutInTheScalesCodePageOrIsRefusedBeforeAnythingIsSent) {
  const std::string utf8 = "\xC5\xBB\xC3\xB3\xC5\x82w;\xC5\x81\xC3\xB3\x64\xC5\xBA";  // Żółw;Łódź
  dir.Write("zolw.csv", utf8 + "\n");
  dir.Write("cyrillic.csv", "1;\xD0\x96uk\n2;ok\n");
  TScaleSimProcess serial({"--pty", "--raw", dir.File("serial.raw")});
  TScaleSimProcess tcp({"--tcp", "0", "--raw", dir.File("tcp.raw")});
  const std::string tcpTarget = "tcp:127.0.0.1:" + std::to_string(tcp.TcpPort());
  const TResult converted = Run({"--pace", "2", "--encoding", "CP1250", dir.File("zolw.csv"),
                                 "serial:" + serial.PtyPath(), tcpTarget});
  const TResult refused = Run({"--pace", "2", "--encoding", "CP1250", dir.File("cyrillic.csv"), tcpTarget});
  const TResult check = Run({"--check", "--encoding", "CP1250", dir.File("cyrillic.csv")});
  const TResult unchanged = Run({"--pace", "2", dir.File("zolw.csv"), tcpTarget});
  const TResult transliterated = Run({"--pace", "2", "--encoding", "CP1250", "--transliterate", dir.File("cyrillic.csv"), tcpTarget});
  serial.Stop();
  tcp.Stop();

  EXPECT_EQ(converted.ExitCode, 0) << converted.Err;
  const std::string cp1250 = "SbP\r\nSr\xAF\xF3\xB3w;\xA3\xF3\x64\x9F\r\nSe\r\n";
  EXPECT_EQ(dir.Read("serial.raw"), cp1250);
  const std::string cyrillicRefusal = "CP1250 cannot hold 1 character of the file (row 1, field 2: \"\xD0\x96\").";
  EXPECT_EQ(refused.ExitCode, 2);
  EXPECT_TRUE(Contains(refused.Err, "scaledb-send: the file cannot be sent: " + cyrillicRefusal)) << refused.Err;
  EXPECT_EQ(check.ExitCode, 2);
  EXPECT_TRUE(Contains(check.Out, "Error: " + cyrillicRefusal)) << check.Out;
  EXPECT_EQ(unchanged.ExitCode, 0) << unchanged.Err;
  EXPECT_EQ(transliterated.ExitCode, 0) << transliterated.Err;
  EXPECT_TRUE(Contains(transliterated.Err, "scaledb-send: warning: \"\xD0\x96\" is sent as \"?\" (1 time, first at row 1, field 2)"))
      << transliterated.Err;
  EXPECT_EQ(dir.Read("tcp.raw"), cp1250 + "SbP\r\nSr" + utf8 + "\r\nSe\r\n" + "SbP\r\nSr1;?uk\r\nSr2;ok\r\nSe\r\n")
      << "converted, then nothing for the refused file, then unchanged, then transliterated";
}

namespace {
size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}
}  // namespace

TEST_F(SendEndToEnd, TheLedgerKnowsWhatEachScaleHoldsAndOnlyChangedSendsOnlyWhatIsMissing) {
  dir.Write("v1.csv", ProductsFile(4));
  dir.Write("v2.csv", ProductsFile(5));
  const std::string v1 = dir.File("v1.csv"), v2 = dir.File("v2.csv");
  auto deli = std::make_unique<TScaleSimProcess>(std::vector<std::string>{"--tcp", "0", "--log", dir.File("deli.log")});
  const std::string deliTarget = "deli=tcp:127.0.0.1:" + std::to_string(deli->TcpPort());
  // localhost and 127.0.0.1 are one scale.
  const std::string deliByName = "deli=tcp:localhost:" + std::to_string(deli->TcpPort());

  EXPECT_EQ(Run({"--pace", "2", "--only-changed", v1, deliTarget}).ExitCode, 0);
  const TResult current = Run({"--pace", "2", "--only-changed", "--json", "-", v1, deliByName});
  EXPECT_EQ(current.ExitCode, 0) << current.Err;
  EXPECT_TRUE(Contains(current.Err, "deli: up to date (sent ")) << current.Err;
  EXPECT_EQ(ReportTargets(current.Out)[0].toObject()["result"].toString(), "current");
  EXPECT_EQ(Count(dir.Read("deli.log"), "SbP"), 1u) << "a current scale is not contacted";
  EXPECT_EQ(Run({"--status", v1, deliTarget}).ExitCode, 0);
  const TResult other = Run({"--status", v2, deliTarget});
  EXPECT_EQ(other.ExitCode, 1);
  EXPECT_TRUE(Contains(other.Out, "other content")) << other.Out;
  EXPECT_EQ(Run({"--pace", "2", "--only-changed", v2, deliTarget}).ExitCode, 0);
  EXPECT_EQ(Count(dir.Read("deli.log"), "SbP"), 2u);
  EXPECT_EQ(Count(dir.Read("deli.log"), "\nSr"), 5u + 6u) << "a changed file goes out whole";

  TScaleSimProcess silent({"--tcp", "0", "--silent-after", "2"});
  const std::string silentTarget = "silent=tcp:127.0.0.1:" + std::to_string(silent.TcpPort());
  EXPECT_EQ(Run({"--pace", "2", "--answer-timeout", "0.3", v1, silentTarget}).ExitCode, 1);

  TScaleSimProcess slow({"--tcp", "0", "--delay", "50"});
  const std::string slowTarget = "slow=tcp:127.0.0.1:" + std::to_string(slow.TcpPort());
  QProcess killed;
  killed.setProcessEnvironment(environment);
  killed.start(SCALEDB_SEND_PATH, Words({"--pace", "2", v1, slowTarget}));
  killed.setReadChannel(QProcess::StandardError);
  std::string err;
  while (!Contains(err, "records (") && killed.waitForReadyRead(10000)) err += killed.readAllStandardError().toStdString();
  killed.kill();
  killed.waitForFinished();

  const TRefusingPort refused;
  deli->Stop();
  deli.reset();
  EXPECT_EQ(Run({"--pace", "2", "--answer-timeout", "0.3", "--only-changed", v1, deliTarget}).ExitCode, 1);

  const TResult status = Run({"--status", "--json", "-", v2, deliTarget, silentTarget, slowTarget,
                              "never=tcp:127.0.0.1:" + std::to_string(refused.Port())});
  EXPECT_EQ(status.ExitCode, 1) << "not every scale holds the file";
  const QJsonArray scales = QJsonDocument::fromJson(QByteArray::fromStdString(status.Out)).object()["scales"].toArray();
  ASSERT_EQ(scales.size(), 4) << status.Out;
  const struct {
    const char* Holds;
    const char* LastResult;
  } expected[] = {
      {"this file", "failed"},  // a link that never opened changes nothing of what it holds
      {"unknown: interrupted load", "failed"},
      {"unknown: interrupted load", "never ended"},  // killed mid-transfer
      {"never sent", nullptr},
  };
  for (int i = 0; i < 4; ++i) {
    const QJsonObject scale = scales[i].toObject();
    EXPECT_EQ(scale["holds"].toString(), expected[i].Holds) << i;
    if (expected[i].LastResult) {
      EXPECT_EQ(scale["last_result"].toString(), expected[i].LastResult) << i;
    }
  }
  EXPECT_EQ(Run({"--status"}).ExitCode, 0) << "without a file every scale listed is fine";
}

// Both start on an empty state folder: one makes the ledger while the other waits for it.
TEST_F(SendEndToEnd, OfTwoSendersStartedAtOnceToOneScaleOneIsBusyAndTheScaleGetsOneTransfer) {
  dir.Write("products.csv", ProductsFile(30));
  TScaleSimProcess scale({"--tcp", "0", "--delay", "20", "--log", dir.File("scale.log")});
  const std::string target = "deli=tcp:127.0.0.1:" + std::to_string(scale.TcpPort());
  QProcess senders[2];
  qint64 pids[2];
  for (int i = 0; i < 2; ++i) {
    senders[i].setProcessEnvironment(environment);
    senders[i].start(SCALEDB_SEND_PATH, Words({"--pace", "2", "--json", dir.File("report" + std::to_string(i) + ".json"),
                                               dir.File("products.csv"), target}));
    pids[i] = senders[i].processId();
  }
  ASSERT_TRUE(senders[0].waitForFinished(kRunTimeoutMs) && senders[1].waitForFinished(kRunTimeoutMs));
  const std::string errors[2] = {senders[0].readAllStandardError().toStdString(),
                                 senders[1].readAllStandardError().toStdString()};
  ASSERT_EQ(senders[0].exitCode() + senders[1].exitCode(), 1) << errors[0] << errors[1];
  const int busy = senders[0].exitCode() == 1 ? 0 : 1;
  const std::string busyText = "busy: another sender (pid " + std::to_string(pids[1 - busy]) +
                               ", scaledb-send) is sending to this scale";
  EXPECT_TRUE(Contains(errors[busy], "deli: failed: " + busyText + "\n")) << errors[busy];
  const QJsonObject report = ReportTargets(dir.Read("report" + std::to_string(busy) + ".json"))[0].toObject();
  EXPECT_EQ(report["result"].toString(), "failed");
  EXPECT_EQ(report["error"].toString().toStdString(), busyText);
  EXPECT_EQ(Count(dir.Read("scale.log"), "SbP"), 1u) << "never two loads interleaved on one scale";

  EXPECT_FALSE(Contains(errors[0] + errors[1], "ledger")) << errors[0] << errors[1];
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("state/scaledb")))
    EXPECT_FALSE(entry.path().filename().string().starts_with("scaledb.sqlite.unreadable-")) << entry.path();
  const TResult status = Run({"--status", dir.File("products.csv"), target});
  EXPECT_EQ(status.ExitCode, 0) << status.Err;
  EXPECT_TRUE(Contains(status.Out, "this file")) << status.Out;
}

namespace {
// Every file of a folder and its bytes; none when the folder is missing.
std::map<std::string, std::string> FolderContent(const std::string& folder) {
  std::map<std::string, std::string> files;
  if (!std::filesystem::exists(folder)) return files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::ifstream file(entry.path(), std::ios::binary);
    files[entry.path().filename().string()] = std::string(std::istreambuf_iterator<char>(file), {});
  }
  return files;
}
}  // namespace

TEST_F(SendEndToEnd, StatusOnlyReadsAndAMissingOrUnreadableLedgerIsNoAllGood) {
  dir.Write("products.csv", ProductsFile(3));
  const std::string products = dir.File("products.csv");
  TScaleSimProcess scale({"--tcp", "0"});
  const std::string target = "deli=tcp:127.0.0.1:" + std::to_string(scale.TcpPort());
  ASSERT_EQ(Run({"--pace", "2", "--state-dir", dir.File("healthy"), products, target}).ExitCode, 0);
  const std::string healthy = dir.Read("healthy/scaledb.sqlite");
  ASSERT_GT(healthy.size(), 3 * 4096u);
  std::string damaged = healthy;
  std::fill(damaged.begin() + 4096, damaged.end(), 'x');
  std::string newer = healthy;
  newer[63] = 2;  // user_version, the header's big-endian word at byte 60

  const struct {
    const char* What;
    std::string Ledger;  // none: no state folder at all
    std::vector<std::string> Words;
    const char* Said;
  } cases[] = {
      {"missing, with a file", "", {products}, ""},
      {"missing, with a file and its scale", "", {products, target}, ""},
      {"not a database", std::string(8192, 'x'), {}, "cannot be read: file is not a database."},
      {"damaged past its first page", damaged, {products, target}, "cannot be read: cannot run a statement: "},
      {"made by a newer version", newer, {}, "cannot be read: it was made by a newer version of this program (schema 2)."},
  };
  for (const auto& c : cases) {
    const std::string folder = dir.File(std::string(c.What) + "/");
    if (!c.Ledger.empty()) {
      std::filesystem::create_directories(folder);
      dir.Write(std::string(c.What) + "/scaledb.sqlite", c.Ledger);
    }
    const std::map<std::string, std::string> before = FolderContent(folder);
    std::vector<std::string> words = {"--status", "--state-dir", folder};
    words.insert(words.end(), c.Words.begin(), c.Words.end());
    const TResult status = Run(words);
    EXPECT_EQ(status.ExitCode, 1) << c.What << "\n" << status.Out << status.Err;
    EXPECT_TRUE(Contains(status.Err, c.Said)) << c.What << ": " << status.Err;
    EXPECT_FALSE(Contains(status.Err, "unrecorded")) << c.What << ": " << status.Err;
    EXPECT_TRUE(FolderContent(folder) == before) << c.What << ": nothing is made, changed or set aside";
  }
}

TEST_F(SendEndToEnd, ADamagedLedgerIsSetAsideAndTheSendStillSucceeds) {
  dir.Write("products.csv", ProductsFile(3));
  std::filesystem::create_directories(dir.File("state/scaledb"));
  dir.Write("state/scaledb/scaledb.sqlite", std::string(4096, 'x'));
  TScaleSimProcess scale({"--tcp", "0"});
  const TResult result = Run({"--pace", "2", dir.File("products.csv"), "tcp:127.0.0.1:" + std::to_string(scale.TcpPort())});
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_EQ(Count(result.Err, "could not be read"), 1u) << "said once: " << result.Err;
  EXPECT_TRUE(Contains(result.Err, "it is kept as " + dir.File("state/scaledb/scaledb.sqlite.unreadable-"))) << result.Err;
}
