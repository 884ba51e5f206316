#include "XMLConfig.h"

#include "FileSave.h"
#include "Global.h"
#include "IntParse.h"
#include "SettingsLocation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {
constexpr const char* kConfigFileName = "config.xml";
constexpr const char* kRootName = "RS232Config";
constexpr const char* kOptions = "Options";
constexpr const char* kInterface = "Interface";
constexpr const char* kTransfer = "Transfer";
constexpr int32_t kDefaultPort = 1001;

// A settings file is a few hundred bytes; anything this large is not one of ours.
constexpr off_t kMaxConfigBytes = 1 << 20;
// Deeper trees are not settings either, and recursive tree walks stay shallow.
constexpr size_t kMaxDepth = 256;

constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_declaration | pugi::parse_comments |
                                 pugi::parse_pi | pugi::parse_doctype;

// A key element with several children or a non-text child.
struct EUnreadableKey : std::runtime_error {
  EUnreadableKey() : std::runtime_error("unreadable key") {}
};

// Any other reason to stop reading or writing the document.
struct EConfigFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------- loading

struct TFileRead {
  std::optional<std::string> Bytes;
  std::string Failure;  // why a file that is there could not be read
};

TFileRead ReadWholeFile(const std::string& path) {
  // Non-blocking, so that a FIFO in place of the file cannot stall the start.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {std::nullopt, errno == ENOENT ? "" : std::string("it cannot be opened: ") + std::strerror(errno)};
  struct stat info {};
  TFileRead read;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    read.Failure = "it is not a regular file";
  } else if (info.st_size > kMaxConfigBytes) {
    read.Failure = "it is larger than 1 MiB";
  } else {
    std::string buffer(static_cast<size_t>(info.st_size), '\0');
    size_t done = 0;
    while (done < buffer.size()) {
      const ssize_t got = ::read(fd, buffer.data() + done, buffer.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    if (done == buffer.size()) read.Bytes = std::move(buffer);
    else read.Failure = "it cannot be read to its end";
  }
  ::close(fd);
  return read;
}

bool HasByteOrderMark(std::string_view bytes) {
  return bytes.starts_with("\xEF\xBB\xBF") || bytes.starts_with("\xFE\xFF") || bytes.starts_with("\xFF\xFE");
}

bool IsEightBitEncoding(pugi::xml_encoding encoding) {
  return encoding == pugi::encoding_utf8 || encoding == pugi::encoding_latin1;
}

size_t TreeDepth(const pugi::xml_node& top) {
  size_t deepest = 0;
  std::vector<std::pair<pugi::xml_node, size_t>> pending{{top, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (depth > deepest) deepest = depth;
    if (deepest > kMaxDepth) break;
    for (const pugi::xml_node child : node.children()) pending.emplace_back(child, depth + 1);
  }
  return deepest;
}

bool HasDeclaration(const pugi::xml_document& document) {
  for (const pugi::xml_node child : document.children())
    if (child.type() == pugi::node_declaration) return true;
  return false;
}

size_t TopLevelElementCount(const pugi::xml_document& document) {
  size_t count = 0;
  for (const pugi::xml_node child : document.children())
    if (child.type() == pugi::node_element) ++count;
  return count;
}

// The parser is lenient where a DOM would refuse: several roots, a NUL ending the text early.
// Why the document is not one to keep; empty when it is.
std::string DocumentFailure(const pugi::xml_document& document, const pugi::xml_parse_result& result,
                            std::string_view bytes) {
  if (!result)
    return std::string("it is not well-formed XML (") + result.description() + " at byte " +
           std::to_string(result.offset) + ")";
  if (IsEightBitEncoding(result.encoding) && bytes.find('\0') != std::string_view::npos)
    return "it is not well-formed XML (a zero byte in the text)";
  if (TopLevelElementCount(document) != 1) return "it is not well-formed XML (not exactly one root element)";
  if (TreeDepth(document) > kMaxDepth) return "its elements are nested too deeply";
  return {};
}

// Bytes that are not a well-formed settings document leave the document empty and say why.
void LoadConfigBytes(TXMLConfig& config, std::string_view bytes) {
  const pugi::xml_parse_result result = config.Document.load_buffer(bytes.data(), bytes.size(), kParseFlags);
  config.LoadFailure = DocumentFailure(config.Document, result, bytes);
  if (!config.LoadFailure.empty()) {
    config.Document.reset();
    return;
  }
  config.Encoding = result.encoding;
  config.ByteOrderMark = HasByteOrderMark(bytes);
  config.Declared = HasDeclaration(config.Document);
}

// A file that cannot be read leaves the document empty too, and says why.
void LoadConfigFile(TXMLConfig& config) {
  config.LoadedPath = ConfigFileToLoad();
  const TFileRead read = ReadWholeFile(config.LoadedPath);
  config.LoadFailure = read.Failure;
  if (read.Bytes) LoadConfigBytes(config, *read.Bytes);
}

// ---------------------------------------------------------------- element access

// "x:Kind" matches "Kind": the part after a namespace prefix counts as the name.
bool NameMatches(std::string_view elementName, std::string_view name) {
  if (elementName == name) return true;
  const size_t colon = elementName.find(':');
  return colon != std::string_view::npos && elementName.substr(colon + 1) == name;
}

pugi::xml_node FindChildElement(const pugi::xml_node& parent, std::string_view name) {
  for (const pugi::xml_node child : parent.children())
    if (child.type() == pugi::node_element && NameMatches(child.name(), name)) return child;
  return {};
}

pugi::xml_node AppendElement(pugi::xml_node parent, const char* name) {
  pugi::xml_node element = parent.append_child(name);
  if (!element) throw EConfigFailure("cannot append element");
  return element;
}

pugi::xml_node FindGroup(const TXMLConfig& config, std::string_view group) {
  return FindChildElement(config.Document.document_element(), group);
}

// The group's element for reading its keys; a missing group stops the reading.
pugi::xml_node GroupToRead(const TXMLConfig& config, const char* group) {
  const pugi::xml_node groupElement = FindGroup(config, group);
  if (!groupElement) throw EConfigFailure(std::string("the group ") + group + " is missing");
  return groupElement;
}

bool IsTextNode(const pugi::xml_node& node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// The element's text; nullopt for no text; EUnreadableKey for anything but a single text child.
std::optional<std::string> ElementText(const pugi::xml_node& element) {
  const pugi::xml_node first = element.first_child();
  if (!first) return std::nullopt;
  if (first.next_sibling() || !IsTextNode(first)) throw EUnreadableKey();
  if (*first.value() == '\0') return std::nullopt;
  return std::string(first.value());
}

void SetElementText(pugi::xml_node element, const std::string& text) {
  const pugi::xml_node first = element.first_child();
  if (first && (first.next_sibling() || !IsTextNode(first))) throw EUnreadableKey();
  if (!element.text().set(text.c_str())) throw EConfigFailure("cannot set text");
}

// ---------------------------------------------------------------- the keys
// Each group is looked up once and its keys within it.

pugi::xml_node EnsureGroup(TXMLConfig& config, const char* group) {
  pugi::xml_node root = config.Document.document_element();
  const pugi::xml_node found = FindChildElement(root, group);
  return found ? found : AppendElement(root, group);
}

void EnsureKey(pugi::xml_node group, const char* key, const std::string& defaultText) {
  if (!FindChildElement(group, key)) SetElementText(AppendElement(group, key), defaultText);
}

void WriteKey(const pugi::xml_node& group, const char* key, bool condition, const std::string& whenTrue,
              const std::string& whenFalse) {
  const pugi::xml_node keyElement = FindChildElement(group, key);
  if (!keyElement) throw EConfigFailure("key missing");
  SetElementText(keyElement, condition ? whenTrue : whenFalse);
}

void WriteKey(const pugi::xml_node& group, const char* key, const std::string& text) {
  WriteKey(group, key, true, text, text);
}

void EnsureAllKeys(TXMLConfig& config) {
  if (!config.Document.document_element()) AppendElement(config.Document, kRootName);
  const pugi::xml_node options = EnsureGroup(config, kOptions);
  // The default names the settings folder, which is only worked out when the key is missing.
  if (!FindChildElement(options, "OrdersFileName"))
    EnsureKey(options, "OrdersFileName", SettingsPlaces().Directory + "orders.xml");
  EnsureKey(options, "WindRow", "No");
  EnsureKey(options, "WindRowMode", "0");
  EnsureKey(options, "WindRowChar", "$00");
  EnsureKey(options, "SaveASCII", "Yes");
  EnsureKey(options, "InsertTime", "No");
  EnsureKey(options, "ChangePointToColon", "No");
  const pugi::xml_node interface = EnsureGroup(config, kInterface);
  EnsureKey(interface, "Kind", "COM");
  EnsureKey(interface, "Protocol", "TCP");
  EnsureKey(interface, "Host", kDefaultHost);
  EnsureKey(interface, "Port", std::to_string(kDefaultPort));
  const pugi::xml_node transfer = EnsureGroup(config, kTransfer);
  EnsureKey(transfer, "AnswerTimeout", std::to_string(TTransferSettings{}.AnswerTimeout));
  EnsureKey(transfer, "RecordRetries", std::to_string(TTransferSettings{}.RecordRetries));
  EnsureKey(transfer, "ScaleCodePage", "");
  EnsureKey(transfer, "Transliterate", "No");
}

// ---------------------------------------------------------------- reading

// Hands the key's text (nullopt for no text) to `apply`; a missing key leaves the field alone.
// A key that stops the reading is named in the failure.
template <typename Apply>
void ReadKey(const pugi::xml_node& group, const char* groupName, const char* key, Apply apply) {
  const pugi::xml_node keyElement = FindChildElement(group, key);
  if (!keyElement) return;
  const auto name = [&] { return std::string("the key ") + key + " of " + groupName; };
  try {
    apply(ElementText(keyElement));
  } catch (const EUnreadableKey&) {
    throw EConfigFailure(name() + " holds more than a text");
  } catch (const EConfigFailure& failure) {
    throw EConfigFailure(name() + " " + failure.what());
  }
}

// The key's text for keys whose no-text and unreadable outcomes give `unreadable`; nullopt for a
// missing key, which leaves the field alone.
std::optional<std::string> TextOr(const pugi::xml_node& group, const char* key, const std::string& unreadable) {
  const pugi::xml_node keyElement = FindChildElement(group, key);
  if (!keyElement) return std::nullopt;
  try {
    return ElementText(keyElement).value_or(unreadable);
  } catch (const EUnreadableKey&) {
    return unreadable;
  }
}

void ReadTextOrEmpty(const pugi::xml_node& group, const char* key, std::string& field) {
  if (const std::optional<std::string> text = TextOr(group, key, "")) field = *text;
}

void ReadYesNo(const pugi::xml_node& group, const char* key, bool& field) {
  if (const std::optional<std::string> text = TextOr(group, key, "")) field = *text == "Yes";
}

// A text is required; no text stops the reading like an unreadable key does.
std::string RequiredText(const std::optional<std::string>& text) {
  if (!text) throw EConfigFailure("has no text");
  return *text;
}

void ReadOptions(const TXMLConfig& config) {
  const pugi::xml_node options = GroupToRead(config, kOptions);
  ReadTextOrEmpty(options, "OrdersFileName", OptionSettings.OrdersFileName);
  ReadYesNo(options, "WindRow", OptionSettings.WindRow);
  ReadKey(options, kOptions, "WindRowMode", [](const std::optional<std::string>& text) {
    const int32_t mode = StrToIntDef(RequiredText(text), 0);
    OptionSettings.WindRowMode = static_cast<int8_t>(static_cast<uint8_t>(mode & 0xFF));
  });
  ReadTextOrEmpty(options, "WindRowChar", OptionSettings.WindRowChar);
  ReadYesNo(options, "SaveASCII", OptionSettings.SaveASCII);
  ReadYesNo(options, "InsertTime", OptionSettings.InsertTime);
  ReadYesNo(options, "ChangePointToColon", OptionSettings.ChangePointToColon);
}

void ReadInterface(const TXMLConfig& config) {
  const pugi::xml_node interface = GroupToRead(config, kInterface);
  ReadKey(interface, kInterface, "Kind",
          [](const std::optional<std::string>& text) { ConnectionSettings.Kind = text == "Eth" ? ikEthernet : ikSerial; });
  ReadKey(interface, kInterface, "Protocol",
          [](const std::optional<std::string>& text) { ConnectionSettings.Protocol = text == "UDP" ? epUdp : epTcp; });
  ReadKey(interface, kInterface, "Host",
          [](const std::optional<std::string>& text) { ConnectionSettings.Host = RequiredText(text); });
  ReadKey(interface, kInterface, "Port", [](const std::optional<std::string>& text) {
    const int32_t port = StrToIntDef(RequiredText(text), 0);
    ConnectionSettings.Port = port > 0 ? port : kDefaultPort;
  });
}

// A count of 0 or more; no text, an unreadable key, a failed parse or a negative number give the
// default, and the reading goes on.
void ReadCount(const pugi::xml_node& transfer, const char* key, int32_t fallback, int32_t& field) {
  if (const std::optional<std::string> text = TextOr(transfer, key, "")) {
    const int32_t count = StrToIntDef(*text, fallback);
    field = count >= 0 ? count : fallback;
  }
}

void ReadTransfer(const TXMLConfig& config) {
  const pugi::xml_node transfer = GroupToRead(config, kTransfer);
  const TTransferSettings defaults;
  ReadCount(transfer, "AnswerTimeout", defaults.AnswerTimeout, TransferSettings.AnswerTimeout);
  ReadCount(transfer, "RecordRetries", defaults.RecordRetries, TransferSettings.RecordRetries);
  ReadTextOrEmpty(transfer, "ScaleCodePage", TransferSettings.ScaleCodePage);
  ReadYesNo(transfer, "Transliterate", TransferSettings.Transliterate);
}

// ---------------------------------------------------------------- writing

void WriteYesNo(const pugi::xml_node& group, const char* key, bool value) { WriteKey(group, key, value, "Yes", "No"); }

void WriteOptions(TXMLConfig& config) {
  const TOptionSettings& settings = OptionSettings;
  const pugi::xml_node options = FindGroup(config, kOptions);
  WriteKey(options, "OrdersFileName", settings.OrdersFileName);
  WriteYesNo(options, "WindRow", settings.WindRow);
  WriteKey(options, "WindRowMode", settings.WindRowMode >= 0, std::to_string(settings.WindRowMode), "0");
  WriteKey(options, "WindRowChar", settings.WindRowChar);
  WriteYesNo(options, "SaveASCII", settings.SaveASCII);
  WriteYesNo(options, "InsertTime", settings.InsertTime);
  WriteYesNo(options, "ChangePointToColon", settings.ChangePointToColon);
}

void WriteInterface(TXMLConfig& config) {
  const TConnectionSettings& connection = ConnectionSettings;
  const pugi::xml_node interface = FindGroup(config, kInterface);
  WriteKey(interface, "Kind", connection.Kind == ikEthernet, "Eth", "COM");
  WriteKey(interface, "Protocol", connection.Protocol == epUdp, "UDP", "TCP");
  WriteKey(interface, "Host", !connection.Host.empty(), connection.Host, kDefaultHost);
  WriteKey(interface, "Port", connection.Port > 0, std::to_string(connection.Port), std::to_string(kDefaultPort));
}

void WriteCount(const pugi::xml_node& transfer, const char* key, int32_t count, int32_t fallback) {
  WriteKey(transfer, key, count >= 0, std::to_string(count), std::to_string(fallback));
}

void WriteTransfer(TXMLConfig& config) {
  const TTransferSettings defaults;
  const pugi::xml_node transfer = FindGroup(config, kTransfer);
  WriteCount(transfer, "AnswerTimeout", TransferSettings.AnswerTimeout, defaults.AnswerTimeout);
  WriteCount(transfer, "RecordRetries", TransferSettings.RecordRetries, defaults.RecordRetries);
  WriteKey(transfer, "ScaleCodePage", TransferSettings.ScaleCodePage);
  WriteYesNo(transfer, "Transliterate", TransferSettings.Transliterate);
}

struct TStringWriter : pugi::xml_writer {
  std::string Bytes;
  void write(const void* data, size_t size) override { Bytes.append(static_cast<const char*>(data), size); }
};

std::string DocumentBytes(const TXMLConfig& config) {
  TStringWriter writer;
  unsigned flags = pugi::format_raw;
  if (config.ByteOrderMark) flags |= pugi::format_write_bom;
  if (!config.Declared) flags |= pugi::format_no_declaration;
  config.Document.save(writer, "", flags, config.Encoding);
  return writer.Bytes;
}

// The file that could not be read is kept before a save replaces it; empty, or why it could not be.
std::string KeepUnreadable(const TXMLConfig& config, const std::string& path) {
  if (config.LoadFailure.empty() || path != config.LoadedPath) return {};
  if (::rename(path.c_str(), config.KeptAs.c_str()) == 0 || errno == ENOENT) return {};
  return "it could not be kept as " + config.KeptAs + ": " + std::strerror(errno);
}

// Saves the document to `path`; empty, or why it could not be saved.
std::string SaveDocument(const TXMLConfig& config, const std::string& path) {
  if (std::string failure = KeepUnreadable(config, path); !failure.empty()) return failure;
  const int error = SaveWholeFile(path, DocumentBytes(config));
  return error == 0 ? std::string() : std::strerror(error);
}
}  // namespace

std::string UnreadableKeepName(const std::string& path) {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return path + ".unreadable-" + stamp;
}

namespace {
// OpenConfig around the loading of the document.
template <typename Load>
void OpenLoaded(TXMLConfig& config, Load load) {
  if (config.Open) config.Document.reset();
  config.Encoding = pugi::encoding_utf8;
  config.ByteOrderMark = false;
  config.Declared = true;
  config.LoadFailure.clear();
  load();
  config.KeptAs = config.LoadFailure.empty() || config.LoadedPath.empty() ? "" : UnreadableKeepName(config.LoadedPath);
  config.ReadFailure.clear();
  try {
    config.Open = true;
    EnsureAllKeys(config);
  } catch (const std::runtime_error& error) {
    config.ReadFailure = std::string("its missing keys could not be added (") + error.what() + ")";
  }
}

void WriteSettings(TXMLConfig& config) {
  WriteOptions(config);
  WriteInterface(config);
  WriteTransfer(config);
}
}  // namespace

void OpenConfig(TXMLConfig& config) {
  OpenLoaded(config, [&config] { LoadConfigFile(config); });
}

void OpenConfigFromBytes(TXMLConfig& config, std::string_view bytes) {
  config.LoadedPath.clear();
  OpenLoaded(config, [&config, bytes] { LoadConfigBytes(config, bytes); });
}

std::string ConfigBytesToSave(TXMLConfig& config) {
  if (!config.Open || OptionSettings.OrdersFileName.empty()) return {};
  try {
    WriteSettings(config);
    return DocumentBytes(config);
  } catch (const std::runtime_error&) {
    return {};
  }
}

void ReadConfig(TXMLConfig& config) {
  if (!config.Open) return;
  try {
    ReadOptions(config);
    ReadInterface(config);
  } catch (const std::runtime_error& error) {
    if (config.ReadFailure.empty()) config.ReadFailure = error.what();
  }
  // Its own guard: a connection key that stops the reading does not cost the transfer limits.
  try {
    ReadTransfer(config);
  } catch (const std::runtime_error& error) {
    if (config.ReadFailure.empty()) config.ReadFailure = error.what();
  }
}

TConfigSave WriteConfig(TXMLConfig& config) {
  if (!config.Open || OptionSettings.OrdersFileName.empty()) return {};
  const std::string usual = SettingsFileForSaving(kConfigFileName);
  try {
    WriteSettings(config);
  } catch (const std::runtime_error& error) {
    return {"", usual + ": the settings cannot be written into its document (" + error.what() + ")"};
  }
  TConfigSave save;
  const std::string failure = SaveDocument(config, usual);
  if (failure.empty()) return {usual, ""};
  save.Failure = usual + ": " + failure;
  const std::string fallback = FallbackSettingsFileForSaving(kConfigFileName);
  if (!fallback.empty() && fallback != usual && SaveDocument(config, fallback).empty()) save.SavedTo = fallback;
  return save;
}
