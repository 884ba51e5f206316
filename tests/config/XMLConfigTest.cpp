#include "Global.h"
#include "TempDir.h"
#include "XMLConfig.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {
std::string Options(const std::string& keys) { return "<Options>" + keys + "</Options>"; }
std::string Interface(const std::string& keys) { return "<Interface>" + keys + "</Interface>"; }
std::string Root(const std::string& groups) { return "<RS232Config>" + groups + "</RS232Config>"; }
std::string Key(const std::string& name, const std::string& text) { return "<" + name + ">" + text + "</" + name + ">"; }

std::string DefaultOptions(const std::string& directory) {
  return Options(Key("OrdersFileName", directory + "orders.xml") + Key("WindRow", "No") + Key("WindRowMode", "0") +
                 Key("WindRowChar", "$00") + Key("SaveASCII", "Yes") + Key("InsertTime", "No") +
                 Key("ChangePointToColon", "No"));
}

std::string DefaultInterface() {
  return Interface(Key("Kind", "COM") + Key("Protocol", "TCP") + Key("Host", kDefaultHost) + Key("Port", "1001"));
}

std::string Transfer(const std::string& keys) { return "<Transfer>" + keys + "</Transfer>"; }
std::string DefaultTransfer() {
  return Transfer(Key("AnswerTimeout", "15") + Key("RecordRetries", "5") + Key("ScaleCodePage", "") +
                  Key("Transliterate", "No"));
}

constexpr const char* kDeclaration = "<?xml version=\"1.0\"?>";

class config_XMLConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExecutableDirectory(dir.Path());
    ConnectionSettings = {};
    OptionSettings = {};
    TransferSettings = {};
  }
  void TearDown() override { SetExecutableDirectory(""); }

  void StartWith(const std::string& bytes) {
    dir.Write("config.xml", bytes);
    StartUp();
  }
  void StartUp() {
    OpenConfig(config);
    ReadConfig(config);
  }
  std::string ShutDown() {
    WriteConfig(config);
    return dir.Read("config.xml");
  }
  std::string DefaultFile() const {
    return kDeclaration + Root(DefaultOptions(dir.Path()) + DefaultInterface() + DefaultTransfer());
  }

  void ExpectDefaultSettings() const {
    EXPECT_EQ(ConnectionSettings.Kind, 0);
    EXPECT_EQ(ConnectionSettings.Protocol, 0);
    EXPECT_EQ(ConnectionSettings.Host, kDefaultHost);
    EXPECT_EQ(ConnectionSettings.Port, 1001);
    EXPECT_EQ(OptionSettings.OrdersFileName, dir.Path() + "orders.xml");
    EXPECT_TRUE(OptionSettings.SaveASCII);
    EXPECT_EQ(OptionSettings.WindRowChar, "$00");
  }

  TTempDir dir;
  TXMLConfig config;
};

// ---------------------------------------------------------------- missing, empty, malformed

TEST_F(config_XMLConfig, MissingFileGivesDefaultsAndIsCreatedComplete) {
  StartUp();
  ExpectDefaultSettings();
  EXPECT_EQ(ShutDown(), DefaultFile());
}

class BrokenConfigFile : public config_XMLConfig, public ::testing::WithParamInterface<std::string> {};

TEST_P(BrokenConfigFile, LoadsAsMissingAndIsReplacedByACompleteFile) {
  StartWith(GetParam());
  ExpectDefaultSettings();
  EXPECT_EQ(ShutDown(), DefaultFile());
}

std::string DeeplyNested(size_t depth) {
  std::string text;
  for (size_t i = 0; i < depth; ++i) text += "<a>";
  for (size_t i = 0; i < depth; ++i) text += "</a>";
  return Root(text);
}

INSTANTIATE_TEST_SUITE_P(config_, BrokenConfigFile,
                         ::testing::Values(std::string(), "not xml at all", "<RS232Config><Options>",
                                           std::string("\x00\xFF\x13<\x80\x01", 6), "<RS232Config/><Second/>",
                                           std::string("<RS232Config/>\0junk", 19), DeeplyNested(300),
                                           DeeplyNested(200000), Root("<!--" + std::string(2 << 20, 'x') + "-->")));

TEST_F(config_XMLConfig, AnUnreadableFileGivesTheDefaultsAndIsKeptAsideBeforeTheSave) {
  const struct {
    const char* Name;
    std::function<void(const std::string& path)> Make;
    const char* Reason;
  } cases[] = {
      {"folder", [](const std::string& path) { std::filesystem::create_directory(path); }, "it is not a regular file"},
      {"typo", [this](const std::string&) { dir.Write("config.xml", Root(Interface(Key("Host", "10.0.0.9"))) + "</RS232Confg>"); },
       "it is not well-formed XML ("},
      {"huge", [this](const std::string&) { dir.Write("config.xml", std::string((1 << 20) + 1, ' ')); },
       "it is larger than 1 MiB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove_all(dir.File("config.xml"));
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) std::filesystem::remove_all(entry);
    c.Make(dir.File("config.xml"));
    StartUp();
    ExpectDefaultSettings();
    EXPECT_TRUE(config.LoadFailure.starts_with(c.Reason)) << config.LoadFailure;
    EXPECT_TRUE(config.KeptAs.starts_with(dir.File("config.xml.unreadable-"))) << config.KeptAs;
    const TConfigSave save = WriteConfig(config);
    EXPECT_EQ(save.SavedTo, dir.File("config.xml"));
    EXPECT_TRUE(std::filesystem::exists(config.KeptAs)) << "the user's file is kept, not lost";
    EXPECT_EQ(dir.Read("config.xml"), DefaultFile());
  }
}

TEST_F(config_XMLConfig, FifoInPlaceOfTheFileDoesNotStallTheStart) {
  ASSERT_EQ(::mkfifo(dir.File("config.xml").c_str(), 0600), 0);
  StartUp();
  ExpectDefaultSettings();
  EXPECT_EQ(ShutDown(), DefaultFile());
}

TEST_F(config_XMLConfig, ModeratelyNestedUnknownContentStillLoads) {
  StartWith(Root(Interface(Key("Kind", "Eth")) + DeeplyNested(100)));
  EXPECT_EQ(ConnectionSettings.Kind, 1);
}

// ---------------------------------------------------------------- reading and stopping

TEST_F(config_XMLConfig, EmptyHostStopsTheReadingAndSavesTheFallbacks) {
  StartWith(Root(Interface(Key("Kind", "Eth") + Key("Protocol", "UDP") + "<Host/>" + Key("Port", "2000"))));
  EXPECT_EQ(ConnectionSettings.Kind, 1);
  EXPECT_EQ(ConnectionSettings.Protocol, 1);
  EXPECT_EQ(ConnectionSettings.Host, "");
  EXPECT_EQ(ConnectionSettings.Port, 0);
  const std::string saved = ShutDown();
  EXPECT_NE(saved.find(Key("Host", kDefaultHost) + Key("Port", "1001")), std::string::npos) << saved;
}

TEST_F(config_XMLConfig, UnreadableKindStopsTheReadingAndPreventsTheSave) {
  ConnectionSettings.Protocol = 1;
  const std::string original = Root(Interface("<Kind>Eth<x/></Kind>" + Key("Protocol", "TCP")));
  StartWith(original);
  EXPECT_EQ(ConnectionSettings.Kind, 0);
  EXPECT_EQ(ConnectionSettings.Protocol, 1);
  EXPECT_EQ(ConnectionSettings.Host, "");
  EXPECT_EQ(config.ReadFailure, "the key Kind of Interface holds more than a text");
  EXPECT_EQ(ShutDown(), original);
}

TEST_F(config_XMLConfig, WindRowModeWithoutTextStopsTheReading) {
  StartWith(Root(Options(Key("WindRow", "Yes") + "<WindRowMode></WindRowMode>" + Key("SaveASCII", "No")) +
                 Interface(Key("Kind", "Eth"))));
  EXPECT_TRUE(OptionSettings.WindRow);
  EXPECT_FALSE(OptionSettings.SaveASCII);
  EXPECT_EQ(ConnectionSettings.Kind, 0);
  EXPECT_EQ(config.ReadFailure, "the key WindRowMode of Options has no text");
}

TEST_F(config_XMLConfig, UnreadableTextKeysFallBackAndTheReadingContinues) {
  StartWith(Root(Options("<WindRow>Yes<!--c--></WindRow><WindRowChar><a/></WindRowChar>") +
                 Interface("<Kind/>" + Key("Protocol", "UDP"))));
  EXPECT_FALSE(OptionSettings.WindRow);
  EXPECT_EQ(OptionSettings.WindRowChar, "");
  EXPECT_EQ(ConnectionSettings.Kind, 0);
  EXPECT_EQ(ConnectionSettings.Protocol, 1);
}

TEST_F(config_XMLConfig, MissingKeyIsSkippedAndMissingGroupStopsTheReading) {
  OpenConfig(config);
  pugi::xml_node root = config.Document.document_element();
  root.child("Options").remove_child("OrdersFileName");
  OptionSettings.OrdersFileName = "unchanged";
  ReadConfig(config);
  EXPECT_EQ(OptionSettings.OrdersFileName, "unchanged");
  EXPECT_EQ(ConnectionSettings.Port, 1001);

  ConnectionSettings = {};
  root.remove_child("Options");
  ReadConfig(config);
  EXPECT_EQ(ConnectionSettings.Port, 0);
  EXPECT_EQ(config.ReadFailure, "the group Options is missing");
}

TEST_F(config_XMLConfig, PrefixedCdataAndDuplicateKeys) {
  StartWith(Root(Interface("<x:Kind xmlns:x=\"urn:x\">Eth</x:Kind><Kind>COM</Kind><Host><![CDATA[10.0.0.7]]></Host>")));
  EXPECT_EQ(ConnectionSettings.Kind, 1);
  EXPECT_EQ(ConnectionSettings.Host, "10.0.0.7");
  ConnectionSettings.Kind = 0;
  const std::string saved = ShutDown();
  EXPECT_NE(saved.find("<x:Kind xmlns:x=\"urn:x\">COM</x:Kind><Kind>COM</Kind><Host><![CDATA[10.0.0.7]]></Host>"),
            std::string::npos)
      << saved;
}

// ---------------------------------------------------------------- yes/no, Kind and Protocol texts

TEST_F(config_XMLConfig, EthernetAndUdpRoundTrip) {
  StartWith(Root(Interface(Key("Kind", "Eth") + Key("Protocol", "UDP"))));
  EXPECT_EQ(ConnectionSettings.Kind, 1);
  EXPECT_EQ(ConnectionSettings.Protocol, 1);
  const std::string saved = ShutDown();
  EXPECT_NE(saved.find(Key("Kind", "Eth") + Key("Protocol", "UDP")), std::string::npos);
  EXPECT_EQ(saved.rfind("<RS232Config>", 0), 0u) << "no declaration is added to a file that had none";
}

TEST_F(config_XMLConfig, TextsCompareCaseSensitivelyAndWhole) {
  StartWith(Root(Options(Key("WindRow", "yes") + Key("SaveASCII", "Yes ")) +
                 Interface(Key("Kind", "eth") + Key("Protocol", "UDPX"))));
  EXPECT_FALSE(OptionSettings.WindRow);
  EXPECT_FALSE(OptionSettings.SaveASCII);
  EXPECT_EQ(ConnectionSettings.Kind, 0);
  EXPECT_EQ(ConnectionSettings.Protocol, 0);
  const std::string saved = ShutDown();
  EXPECT_NE(saved.find(Key("WindRow", "No") + Key("SaveASCII", "No")), std::string::npos) << saved;
  EXPECT_NE(saved.find(Key("Kind", "COM") + Key("Protocol", "TCP")), std::string::npos) << saved;
}

TEST_F(config_XMLConfig, OutOfRangeFieldsAreSavedAsSerialAndTcp) {
  StartUp();
  ConnectionSettings.Kind = 7;
  ConnectionSettings.Protocol = 2;
  EXPECT_NE(ShutDown().find(Key("Kind", "COM") + Key("Protocol", "TCP")), std::string::npos);
}

// ---------------------------------------------------------------- Port and WindRowMode

struct TNumberCase {
  std::string text;
  int32_t value;
  std::string saved;
};

class PortText : public config_XMLConfig, public ::testing::WithParamInterface<TNumberCase> {};

TEST_P(PortText, IsNormalised) {
  StartWith(Root(Interface(Key("Host", "10.0.0.7") + Key("Port", GetParam().text))));
  EXPECT_EQ(ConnectionSettings.Port, GetParam().value);
  EXPECT_NE(ShutDown().find(Key("Port", GetParam().saved)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(config_, PortText,
                         ::testing::Values(TNumberCase{"0", 1001, "1001"}, TNumberCase{"-5", 1001, "1001"},
                                           TNumberCase{"abc", 1001, "1001"}, TNumberCase{"1001 ", 1001, "1001"},
                                           TNumberCase{" 1001", 1001, "1001"}, TNumberCase{"$3E9", 1001, "1001"},
                                           TNumberCase{"70000", 70000, "70000"}));

class WindRowModeText : public config_XMLConfig, public ::testing::WithParamInterface<TNumberCase> {};

TEST_P(WindRowModeText, KeepsTheLowEightBitsAndSavesNegativesAsZero) {
  StartWith(Root(Options(Key("WindRowMode", GetParam().text))));
  EXPECT_EQ(OptionSettings.WindRowMode, GetParam().value);
  EXPECT_NE(ShutDown().find(Key("WindRowMode", GetParam().saved)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(config_, WindRowModeText,
                         ::testing::Values(TNumberCase{"300", 44, "44"}, TNumberCase{"200", -56, "0"},
                                           TNumberCase{"-1", -1, "0"}, TNumberCase{"127", 127, "127"},
                                           TNumberCase{"junk", 0, "0"}));

// ---------------------------------------------------------------- the Transfer group

TEST_F(config_XMLConfig, AFileWithoutTheTransferGroupGetsItAppendedAndNothingElseChanges) {
  const std::string before = kDeclaration + Root(DefaultOptions(dir.Path()) + DefaultInterface());
  StartWith(before);
  EXPECT_EQ(TransferSettings.AnswerTimeout, 15);
  EXPECT_EQ(TransferSettings.RecordRetries, 5);
  EXPECT_EQ(ShutDown(), before.substr(0, before.size() - std::string("</RS232Config>").size()) + DefaultTransfer() +
                            "</RS232Config>");
}

TEST_F(config_XMLConfig, TransferLimitsAreReadEvenWhenAConnectionKeyStopsTheReading) {
  StartWith(Root(Interface("<Host/>") + Transfer(Key("RecordRetries", "2") + Key("AnswerTimeout", "0"))));
  EXPECT_EQ(ConnectionSettings.Host, "");
  EXPECT_EQ(TransferSettings.AnswerTimeout, 0);
  EXPECT_EQ(TransferSettings.RecordRetries, 2);
  TransferSettings.RecordRetries = 9;
  EXPECT_NE(ShutDown().find("<Transfer>" + Key("RecordRetries", "9") + Key("AnswerTimeout", "0")), std::string::npos)
      << "the file's own order is kept";
}

TEST_F(config_XMLConfig, TheScaleCodePageIsReadAndWrittenAndAppendedWhereMissing) {
  const std::string limits = Key("AnswerTimeout", "15") + Key("RecordRetries", "5");
  const std::string before = kDeclaration + Root(DefaultOptions(dir.Path()) + DefaultInterface() + Transfer(limits));
  StartWith(before);
  EXPECT_EQ(TransferSettings.ScaleCodePage, "");
  EXPECT_FALSE(TransferSettings.Transliterate);
  EXPECT_EQ(ShutDown(), kDeclaration + Root(DefaultOptions(dir.Path()) + DefaultInterface() + DefaultTransfer()));

  StartWith(Root(Transfer(limits + Key("ScaleCodePage", "CP1250") + Key("Transliterate", "Yes"))));
  EXPECT_EQ(TransferSettings.ScaleCodePage, "CP1250");
  EXPECT_TRUE(TransferSettings.Transliterate);
  TransferSettings.ScaleCodePage = "ISO-8859-2";
  TransferSettings.Transliterate = false;
  EXPECT_NE(ShutDown().find(Transfer(limits + Key("ScaleCodePage", "ISO-8859-2") + Key("Transliterate", "No"))),
            std::string::npos);
}

class AnswerTimeoutText : public config_XMLConfig, public ::testing::WithParamInterface<TNumberCase> {};

TEST_P(AnswerTimeoutText, ParsesAsACountAndFallsBackToFifteen) {
  StartWith(Root(Transfer("<AnswerTimeout>" + GetParam().text + "</AnswerTimeout>")));
  EXPECT_EQ(TransferSettings.AnswerTimeout, GetParam().value);
  EXPECT_EQ(TransferSettings.RecordRetries, 5) << "the reading goes on after " << GetParam().text;
  EXPECT_NE(ShutDown().find(Key("AnswerTimeout", GetParam().saved)), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(config_, AnswerTimeoutText,
                         ::testing::Values(TNumberCase{"2", 2, "2"}, TNumberCase{"0", 0, "0"},
                                           TNumberCase{" $1E", 30, "30"}, TNumberCase{"-3", 15, "15"},
                                           TNumberCase{"2 s", 15, "15"}, TNumberCase{"", 15, "15"}));

TEST_F(config_XMLConfig, AnUnreadableTransferKeyGivesItsDefaultAndPreventsTheSave) {
  const std::string original = Root(Transfer("<AnswerTimeout>2<x/></AnswerTimeout>" + Key("RecordRetries", "1")));
  StartWith(original);
  EXPECT_EQ(TransferSettings.AnswerTimeout, 15);
  EXPECT_EQ(TransferSettings.RecordRetries, 1);
  EXPECT_EQ(ShutDown(), original) << "like every other key that cannot be written";
}

// ---------------------------------------------------------------- OrdersFileName and WindRowChar

TEST_F(config_XMLConfig, EmptyOrdersFileNameSuppressesTheSave) {
  const std::string original = Root(Options("<OrdersFileName/>") + Interface(Key("Kind", "COM")));
  StartWith(original);
  EXPECT_EQ(OptionSettings.OrdersFileName, "");
  ConnectionSettings.Kind = 1;
  EXPECT_EQ(ShutDown(), original);
}

TEST_F(config_XMLConfig, OrdersFileNameKeepsThePathItWasCreatedWith) {
  StartWith(Root(Options(Key("OrdersFileName", "/old/place/orders.xml"))));
  EXPECT_EQ(OptionSettings.OrdersFileName, "/old/place/orders.xml");
  EXPECT_NE(ShutDown().find("/old/place/orders.xml"), std::string::npos);
}

TEST_F(config_XMLConfig, EmptyWindRowCharStaysEmpty) {
  StartWith(Root(Options("<WindRowChar/>")));
  EXPECT_EQ(OptionSettings.WindRowChar, "");
  ShutDown();
  OptionSettings.WindRowChar = "x";
  StartUp();
  EXPECT_EQ(OptionSettings.WindRowChar, "");
}

// ---------------------------------------------------------------- order, unknown content, layout

TEST_F(config_XMLConfig, FileOrderAndUnknownContentSurviveARoundTrip) {
  const std::string interface =
      "<Interface><Port>1234</Port><Extra>1</Extra><Host>10.1.2.3</Host><Protocol>UDP</Protocol><Kind>Eth</Kind>"
      "</Interface>";
  const std::string unknown = "<!--kept--><Unknown a=\"1\"><Deep>x</Deep></Unknown>";
  StartWith(std::string("<?xml version=\"1.0\" standalone=\"yes\"?>") + Root(interface + unknown));
  EXPECT_EQ(ConnectionSettings.Port, 1234);
  EXPECT_EQ(ConnectionSettings.Host, "10.1.2.3");
  EXPECT_EQ(ShutDown(), "<?xml version=\"1.0\" standalone=\"yes\"?>" +
                            Root(interface + unknown + DefaultOptions(dir.Path()) + DefaultTransfer()));
}

TEST_F(config_XMLConfig, IndentedHandEditedFileLoadsLikeAFlatOne) {
  StartWith("<?xml version=\"1.0\"?>\n<Settings>\n  <Interface>\n    <Kind>Eth</Kind>\n    <Port>\n"
            "      2000\n    </Port>\n  </Interface>\n</Settings>\n");
  EXPECT_EQ(ConnectionSettings.Kind, 1);
  EXPECT_EQ(ConnectionSettings.Port, 1001) << "a text with line breaks is not a number";
  const std::string saved = ShutDown();
  EXPECT_EQ(saved.find("\n  <"), std::string::npos) << saved;
  EXPECT_EQ(saved.rfind("<?xml version=\"1.0\"?><Settings><Interface><Kind>Eth</Kind>", 0), 0u) << saved;
}

TEST_F(config_XMLConfig, DeclaredEncodingIsKeptOnSave) {
  StartWith("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + Root(Interface(Key("Host", "wag\xE9"))));
  EXPECT_EQ(ConnectionSettings.Host, "wag\xC3\xA9");
  EXPECT_NE(ShutDown().find(Key("Host", "wag\xE9")), std::string::npos);
}

// ---------------------------------------------------------------- the save itself

// Root ignores directory permissions, so the write is tried as an ordinary user.
class TUnprivileged {
 public:
  TUnprivileged() : wasRoot_(::geteuid() == 0) {
    if (wasRoot_) {
      EXPECT_EQ(::seteuid(65534), 0);
    }
  }
  ~TUnprivileged() {
    if (wasRoot_) {
      EXPECT_EQ(::seteuid(0), 0);
    }
  }

 private:
  bool wasRoot_;
};

std::filesystem::path::string_type OnlyEntry(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().filename());
  return names.size() == 1 ? names.front() : "entries: " + std::to_string(names.size());
}

TEST_F(config_XMLConfig, SaveIntoReadOnlyDirectoryAndFileLeavesTheOldFileIntact) {
  const std::string original = Root(Interface(Key("Kind", "COM")));
  StartWith(original);
  ConnectionSettings.Kind = 1;
  ::chmod(dir.File("config.xml").c_str(), 0444);
  ::chmod(dir.Path().c_str(), 0555);
  {
    TUnprivileged user;
    WriteConfig(config);
  }
  EXPECT_EQ(dir.Read("config.xml"), original);
  EXPECT_EQ(OnlyEntry(dir.Path()), "config.xml");
}

ino_t InodeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_ino;
}

// A shared setup: the folder belongs to someone else, the file may be written by everybody.
TEST_F(config_XMLConfig, FileWritableInAReadOnlyDirectoryIsSavedInPlaceWhole) {
  // The white space is dropped on loading, so the saved file is much shorter than this one.
  StartWith("<RS232Config>" + Interface(Key("Kind", "COM")) + std::string(6000, ' ') + "</RS232Config>");
  ConnectionSettings.Kind = 1;
  const ino_t before = InodeOf(dir.File("config.xml"));
  ::chmod(dir.File("config.xml").c_str(), 0666);
  ::chmod(dir.Path().c_str(), 0555);
  {
    TUnprivileged user;
    WriteConfig(config);
  }
  ::chmod(dir.Path().c_str(), 0755);
  EXPECT_EQ(dir.Read("config.xml"),
            Root(Interface(Key("Kind", "Eth") + Key("Protocol", "TCP") + Key("Host", kDefaultHost) +
                           Key("Port", "1001")) +
                 DefaultOptions(dir.Path()) + DefaultTransfer()));
  EXPECT_EQ(InodeOf(dir.File("config.xml")), before);
  EXPECT_EQ(OnlyEntry(dir.Path()), "config.xml");
}

TEST_F(config_XMLConfig, SymbolicLinkIsSavedToItsTargetAndStays) {
  TTempDir shared;
  shared.Write("scale.xml", Root(Interface(Key("Kind", "COM"))));
  std::filesystem::create_directory_symlink(shared.Path(), dir.File("shared"));
  std::filesystem::create_symlink("shared/scale.xml", dir.File("config.xml"));
  StartUp();
  ConnectionSettings.Kind = 1;
  WriteConfig(config);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("config.xml")));
  EXPECT_EQ(std::filesystem::read_symlink(dir.File("config.xml")), "shared/scale.xml");
  EXPECT_NE(shared.Read("scale.xml").find(Key("Kind", "Eth")), std::string::npos) << shared.Read("scale.xml");
  EXPECT_EQ(OnlyEntry(shared.Path()), "scale.xml");
}

TEST_F(config_XMLConfig, SaveKeepsTheFileModeAndLeavesNoTemporaryFile) {
  StartWith(Root(""));
  ::chmod(dir.File("config.xml").c_str(), 0640);
  ShutDown();
  struct stat info {};
  ASSERT_EQ(::stat(dir.File("config.xml").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(OnlyEntry(dir.Path()), "config.xml");
}

TEST_F(config_XMLConfig, SaveIntoMissingDirectoryIsIgnored) {
  StartUp();
  SetExecutableDirectory(dir.File("gone"));
  WriteConfig(config);
  EXPECT_FALSE(std::filesystem::exists(dir.File("gone")));
}

TEST_F(config_XMLConfig, UnopenedDocumentReadsAndSavesNothing) {
  ReadConfig(config);
  WriteConfig(config);
  EXPECT_EQ(ConnectionSettings.Port, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("config.xml")));
}
}  // namespace
