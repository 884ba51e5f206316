#include "PortList.h"

#include "JsonText.h"
#include "PortSurvey.h"

#include <algorithm>

namespace {
std::string JsonOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

std::string JsonList(const std::vector<std::string>& texts) {
  std::string json = "[";
  for (size_t i = 0; i < texts.size(); ++i) json += (i == 0 ? "" : ", ") + JsonString(texts[i]);
  return json + "]";
}

std::string UsbJson(const TUsbAdapter& usb) {
  return "{\"vendor_id\": " + JsonString(usb.VendorId) + ", \"product_id\": " + JsonString(usb.ProductId) +
         ", \"manufacturer\": " + JsonOrNull(usb.Manufacturer) + ", \"product\": " + JsonOrNull(usb.Product) +
         ", \"serial\": " + JsonOrNull(usb.Serial) + "}";
}

std::string HoldersJson(const std::vector<TPortHolder>& holders) {
  std::string json = "[";
  for (size_t i = 0; i < holders.size(); ++i)
    json += (i == 0 ? "{" : ", {") + std::string("\"pid\": ") + std::to_string(holders[i].Pid) +
            ", \"program\": " + JsonString(holders[i].Program) + "}";
  return json + "]";
}

std::string DeviceJson(const TPortSurvey& survey, const TSerialDeviceInfo& device) {
  return "{\"device\": " + JsonString(device.Device) + ", \"stable_name\": " + JsonOrNull(device.StableName) +
         ", \"com\": " + JsonList(device.ComNames) + ", \"driver\": " + JsonOrNull(device.Driver) +
         ", \"usb\": " + (device.Usb ? UsbJson(*device.Usb) : std::string("null")) +
         ", \"may_open\": " + (device.Access == TPortAccess::Allowed ? "true" : "false") +
         ", \"access\": " + JsonString(PortAccessText(device)) + ", \"holders\": " + HoldersJson(device.Holders) +
         ", \"notes\": " + JsonList(DeviceFindings(survey, device)) + "}";
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}
}  // namespace

std::string PortListText(const TPortSurvey& survey) {
  const std::vector<TPortTableRow> rows = PortTable(survey);
  if (rows.empty()) return "No serial device is present.\n";
  const std::vector<std::string> header = PortTableHeader();
  std::vector<size_t> widths;
  for (const std::string& title : header) widths.push_back(title.size());
  for (const TPortTableRow& row : rows)
    for (size_t column = 0; column < row.Cells.size(); ++column) widths[column] = std::max(widths[column], row.Cells[column].size());
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t column = 0; column + 1 < cells.size(); ++column) text += Padded(cells[column], widths[column]) + "  ";
    return text + cells.back() + "\n";
  };
  std::string text = line(header);
  for (const TPortTableRow& row : rows) {
    text += line(row.Cells);
    for (const std::string& note : row.Notes) text += "  " + note + "\n";
  }
  return text;
}

std::string PortListJson(const TPortSurvey& survey) {
  std::string json = "{\n  \"ports\": [";
  for (size_t i = 0; i < survey.Devices.size(); ++i)
    json += (i == 0 ? "\n    " : ",\n    ") + DeviceJson(survey, survey.Devices[i]);
  json += survey.Devices.empty() ? "],\n  \"taken_by_brltty\": [" : "\n  ],\n  \"taken_by_brltty\": [";
  const std::vector<TUsbAdapter> taken = survey.BrlttyRunning ? survey.AdaptersWithoutDevice : std::vector<TUsbAdapter>();
  for (size_t i = 0; i < taken.size(); ++i) json += (i == 0 ? "\n    " : ",\n    ") + UsbJson(taken[i]);
  return json + (taken.empty() ? "]\n}\n" : "\n  ]\n}\n");
}
