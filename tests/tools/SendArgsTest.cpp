// scaledb-send's command line, targets and the texts it prints, without sending anything.

#include "Escape.h"
#include "InstalledLayout.h"
#include "Options.h"
#include "Progress.h"
#include "Settings.h"
#include "Targets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {
using TKind = TLinkSettings::TKind;

std::string Parsed(const TTarget& target) {
  const TLinkSettings& link = target.Link;
  switch (link.Kind) {
    case TKind::Serial: return "serial " + link.SerialPort + " " + std::to_string(link.BaudRate);
    case TKind::Tcp: return "tcp " + link.Host + " " + std::to_string(link.Port);
    case TKind::Udp: return "udp " + link.Host + " " + std::to_string(link.Port);
  }
  return {};
}
}  // namespace

TEST(SendTargets, EachKindParsesAndEveryMistakeIsNamed) {
  const struct {
    const char* Text;
    const char* Name;    // or the error's telling part; nullptr: the text itself, any error
    const char* Link;    // empty for an error
  } cases[] = {
      {"serial:COM1", "serial:COM1", "serial COM1 0"},
      {"serial:com12@19200", "serial:com12@19200", "serial com12 19200"},
      {"serial:/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0@115200", nullptr,
       "serial /dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0 115200"},
      {"Front counter = tcp:scale-1.shop.lan:4001", "Front counter", "tcp scale-1.shop.lan 4001"},
      {"back=udp:192.168.001.010:1001", "back", "udp 192.168.001.010 1001"},
      {"a=b=tcp:h:1", nullptr, ""},
      {"", "empty target", ""},
      {"=tcp:h:1", "empty name", ""},
      {"tcp:h", "HOST:PORT expected", ""},
      {"tcp::4001", "no host", ""},
      {"tcp:h:0", "'0' is not a number from 1 to 65535", ""},
      {"tcp:h:65536", "'65536' is not a number from 1 to 65535", ""},
      {"tcp:h:+80", "'+80'", ""},
      {"tcp:::1:80", "not a host name", ""},
      {"udp:scale.lan:1001", "needs a dotted IPv4 address", ""},
      {"udp:10.0.0.300:1001", "needs a dotted IPv4 address", ""},
      {"udp:10.0.0:1001", "needs a dotted IPv4 address", ""},
      {"serial:COM0", "neither a COM name", ""},
      {"serial:COM01", "neither a COM name", ""},
      {"serial:ttyUSB0", "neither a COM name", ""},
      {"serial:COM1@fast", "'fast' is not a number", ""},
      {"serial:@9600", "no serial port", ""},
      {"http://scale", "does not start with serial:, tcp: or udp:", ""},
      {"tcp:h:1\n", "target 'tcp:h:1\\x0A' holds a control character", ""},
      {" tcp:h:1\t", "tcp:h:1", "tcp h 1"},
  };
  for (const auto& c : cases) {
    const TTargetParse parse = ParseTarget(c.Text);
    const std::string expected = c.Name ? c.Name : "";
    if (std::string(c.Link).empty()) {
      EXPECT_FALSE(parse.Error.empty()) << c.Text;
      EXPECT_NE(parse.Error.find(expected), std::string::npos) << c.Text << ": " << parse.Error;
      continue;
    }
    ASSERT_EQ(parse.Error, "") << c.Text;
    EXPECT_EQ(Parsed(parse.Target), c.Link) << c.Text;
    EXPECT_EQ(parse.Target.Name, c.Name ? expected : c.Text) << c.Text;
  }
}

TEST(SendTargets, ATargetsFileSkipsBlanksAndCommentsAndNamesTheLineOfAMistake) {
  const TTargetsParse shop = ParseTargetsFile("# shop 12\r\n\nfront=tcp:10.0.0.5:4001\r\n  # old scale\n"
                                              "  serial:/dev/ttyUSB0@9600  \nback=udp:10.0.0.6:1001");
  ASSERT_EQ(shop.Error, "");
  ASSERT_EQ(shop.Targets.size(), 3u);
  EXPECT_EQ(shop.Targets[0].Name, "front");
  EXPECT_EQ(shop.Targets[0].Text, "tcp:10.0.0.5:4001");
  EXPECT_EQ(shop.Targets[1].Name, "serial:/dev/ttyUSB0@9600");
  EXPECT_EQ(Parsed(shop.Targets[2]), "udp 10.0.0.6 1001");

  const TTargetsParse bad = ParseTargetsFile("tcp:a:1\n\n# x\ntcp:b\ntcp:c:3\n");
  EXPECT_TRUE(bad.Targets.empty());
  EXPECT_EQ(bad.Error.rfind("line 4: target 'tcp:b'", 0), 0u) << bad.Error;
  EXPECT_EQ(ParseTargetsFile("").Targets.size(), 0u);

  for (const char* marked : {"\xEF\xBB\xBF# shop 12\nfront=tcp:10.0.0.5:4001\n", "\xEF\xBB\xBF" "front=tcp:10.0.0.5:4001"}) {
    const TTargetsParse parse = ParseTargetsFile(marked);
    ASSERT_EQ(parse.Error, "") << "a byte order mark reads as if it were not there";
    ASSERT_EQ(parse.Targets.size(), 1u);
    EXPECT_EQ(parse.Targets[0].Name, "front");
  }
}

TEST(SendTargets, TwoTargetsMayNotShareANameOrAScale) {
  const auto Targets = [](std::vector<const char*> texts) {
    std::vector<TTarget> targets;
    for (const char* text : texts) targets.push_back(ParseTarget(text).Target);
    return targets;
  };
  EXPECT_EQ(DuplicateTargetsError(Targets({"tcp:h:1", "tcp:h:2", "udp:1.2.3.4:1", "serial:COM1", "serial:COM2"})), "");
  EXPECT_EQ(DuplicateTargetsError(Targets({"a=tcp:h:1", "a=tcp:h:2"})), "two targets are named 'a'");
  EXPECT_EQ(DuplicateTargetsError(Targets({"a=tcp:Host:1", "b=tcp:host:1"})), "'a' and 'b' are the same scale");
  EXPECT_EQ(DuplicateTargetsError(Targets({"serial:COM3", "x=serial:com3@19200"})),
            "'serial:COM3' and 'x' are the same scale");
}

TEST(SendTargets, WithoutATargetAnInstalledSenderTakesTheLinkFromTheUsersSettingsOrTheAdministrators) {
  const TInstalledLayout layout;
  std::filesystem::create_directories(layout.UserDirectory());
  std::filesystem::create_directories(layout.AdminDirectory());
  layout.Root.Write("etc/xdg/scaledb/config.xml",
                    "<RS232Config><Interface><Kind>Eth</Kind><Protocol>UDP</Protocol><Host>127.0.0.5</Host>"
                    "<Port>4001</Port></Interface></RS232Config>");
  EXPECT_EQ(ConfiguredTarget().Target.Text, "udp:127.0.0.5:4001");

  layout.Root.Write("home/.config/scaledb/config.xml", "<RS232Config><Interface><Kind>COM</Kind></Interface></RS232Config>");
  layout.Root.Write("home/.config/scaledb/RuzOzodArir.ini", "[ComPort1]\nPort=COM7\nBaudRate=19200\n");
  const TTargetParse own = ConfiguredTarget();
  EXPECT_EQ(own.Error, "");
  EXPECT_EQ(own.Target.Text, "serial:COM7@19200");
  EXPECT_EQ(own.Target.Name, own.Target.Text);
  EXPECT_TRUE(std::filesystem::is_empty(layout.BinDirectory())) << "nothing is read or written beside the program";
}

TEST(SendCommandLine, OptionsTakeTheirValuesInEitherFormAndBadOnesAreRefused) {
  const TCommandLine line = ParseCommandLine({"--kind", "statuses", "--pace=20", "--answer-timeout", "0.25",
                                              "--retries", "0", "--udp-local-port", "45000", "--json", "-",
                                              "--targets", "shop.txt", "--quiet", "db.csv", "tcp:h:1", "--", "-x=udp:1.2.3.4:5"});
  ASSERT_EQ(line.Error, "");
  const TSendOptions& options = line.Options;
  EXPECT_EQ(options.File, "db.csv");
  EXPECT_EQ(options.Kind, "statuses");
  EXPECT_EQ(options.KindPosition, 2);
  EXPECT_EQ(options.PaceMs, 20);
  EXPECT_EQ(options.AnswerTimeoutMs, 250);
  EXPECT_EQ(options.Retries, 0);
  EXPECT_EQ(options.UdpLocalPort, 45000);
  EXPECT_EQ(options.JsonPath, "-");
  EXPECT_EQ(options.TargetsFiles, std::vector<std::string>{"shop.txt"});
  EXPECT_TRUE(options.Quiet);
  ASSERT_EQ(options.Targets.size(), 2u);
  EXPECT_EQ(options.Targets[1].Name, "-x");

  const TSendOptions defaults = ParseCommandLine({"db.csv"}).Options;
  EXPECT_EQ(defaults.KindPosition, 0);
  EXPECT_EQ(defaults.PaceMs, 100);
  EXPECT_EQ(defaults.AnswerTimeoutMs, 15000);
  EXPECT_EQ(defaults.Retries, 5);
  EXPECT_EQ(defaults.UdpLocalPort, 1001);
  EXPECT_EQ(ParseCommandLine({"--kind", "labels", "f"}).Options.KindPosition, 0);
  EXPECT_EQ(ParseCommandLine({"--kind", "users", "f"}).Options.KindPosition, 1);
  EXPECT_TRUE(ParseCommandLine({"--help"}).Error.empty());

  const struct {
    std::vector<std::string> Words;
    const char* Error;  // the start of the error; empty: the words are good
    const char* JsonPath = "";
  } cases[] = {
      {{"--json", "--ports"}, "", "-"},
      {{"--json", "--pace=20", "f"}, "", "-"},
      {{"--status", "--json"}, "", "-"},
      {{"--json", "report.json", "--ports"}, "", "report.json"},
      {{"--json", "--frobnicate", "f"}, "", "--frobnicate"},
      {{}, "no database file given"},
      {{"--kind", "prices", "f"}, "--kind: 'prices' is not one of products, labels, users, statuses"},
      {{"--pace", "0", "f"}, "--pace: '0' is not a number of milliseconds"},
      {{"--pace", "1e3", "f"}, "--pace: '1e3'"},
      {{"--answer-timeout", "-1", "f"}, "--answer-timeout: '-1'"},
      {{"--answer-timeout", "1e9", "f"}, "--answer-timeout: '1e9'"},
      {{"--retries", "-1", "f"}, "--retries: '-1'"},
      {{"--udp-local-port", "70000", "f"}, "--udp-local-port: '70000'"},
      {{"f", "--pace"}, "--pace needs a value"},
      {{"--json=", "f"}, "--json needs a file name"},
      {{"--quiet=yes", "f"}, "--quiet takes no value"},
      {{"--frobnicate", "f"}, "unknown option '--frobnicate'"},
      {{"f", "tcp:h"}, "target 'tcp:h'"},
  };
  for (const auto& c : cases) {
    const TCommandLine parse = ParseCommandLine(c.Words);
    if (*c.Error) {
      EXPECT_EQ(parse.Error.rfind(c.Error, 0), 0u) << c.Error << ": " << parse.Error;
    } else {
      EXPECT_EQ(parse.Error, "") << c.Words.front();
      EXPECT_EQ(parse.Options.JsonPath, c.JsonPath) << c.Words.front();
    }
  }
}

// The list the fuzz target walks the words with is the list the parse takes and --help names.
TEST(SendCommandLine, EveryListedOptionIsTakenAsListedAndNamedInTheUsage) {
  for (const TSendOption& option : SendOptions()) {
    const std::string name(option.Name);
    const std::string value = name == "--kind" ? "users" : "1";
    const std::vector<std::string> words = option.TakesValue ? std::vector<std::string>{name, value, "f"}
                                                             : std::vector<std::string>{name, "f"};
    const std::string error = ParseCommandLine(words).Error;
    EXPECT_EQ(error.find("unknown option"), std::string::npos) << name << ": " << error;
    if (option.TakesValue)
      EXPECT_EQ(ParseCommandLine({"f", name}).Error, name + " needs a value");
    else
      EXPECT_EQ(ParseCommandLine({name + "=1", "f"}).Error, name + " takes no value");
    EXPECT_NE(std::string(kSendUsage).find("  " + name), std::string::npos) << name;
    EXPECT_EQ(FindSendOption(name), &option);
  }
  EXPECT_EQ(FindSendOption("--frobnicate"), nullptr);
}

TEST(SendTexts, EscapesDurationsAndLiveLines) {
  EXPECT_EQ(Escaped(std::string("Sr\xB3\\x;\t\x7F\r\n", 10), TEscape::C), "Sr\\263\\\\x;\\t\\177\\r\\n");
  EXPECT_EQ(Escaped(std::string("a\0" "1\0", 4), TEscape::C), "a\\0001\\0") << "a zero before a digit stays one byte";

  EXPECT_EQ(Duration(0.04), "0.0s");
  EXPECT_EQ(Duration(21.26), "21.3s");
  EXPECT_EQ(Duration(59.96), "1m00s");
  EXPECT_EQ(Duration(72.4), "1m12s");
  EXPECT_EQ(Duration(3723), "1h02m03s");

  TTargetStatus status;
  EXPECT_EQ(LiveLine("front", 6, "tcp:h:1", 200, status), "front   connecting to tcp:h:1");
  status.Phase = TTargetStatus::TPhase::Sending;
  EXPECT_EQ(LiveLine("front", 6, "tcp:h:1", 200, status), "front   0/200 records");
  status.Acknowledged = 50;
  status.Seconds = 5;
  EXPECT_EQ(LiveLine("front", 6, "tcp:h:1", 200, status), "front   50/200 records  10.0/s  0:15 left");
  EXPECT_EQ(LiveLine("Wag\xC4\x85 \xC5\x82\xC3\xB3" "dzka", 6, "x", 1, TTargetStatus()), "Wag\xC4\x85 \xC5\x82  connecting to x")
      << "a long name is cut by characters, not bytes";
  EXPECT_EQ(FitToColumns("abcdef", 4), "abcd");
}
