#pragma once
// A UTF-8 price file with Polish letters, and what a scale set to CP1250 receives of it.

#include "TempDir.h"
#include "okno.h"

#include <QString>

// "Żółw;Łódź"
inline constexpr char kTurtleUtf8Row[] = "\xC5\xBB\xC3\xB3\xC5\x82w;\xC5\x81\xC3\xB3\x64\xC5\xBA";
inline constexpr char kTurtleCp1250Wire[] = "SbP\r\nSr\xAF\xF3\xB3w;\xA3\xF3\x64\x9F\r\nSe\r\n";

// Sets the window's scale code page to CP1250 and opens the file through File → Open.
inline void OpenTurtleFileForCp1250(TForm1& form, const TTempDir& dir) {
  form.ApplyTransferSettings(TTransferSettings{15, 5, "CP1250", false});
  dir.Write("zolw.csv", std::string(kTurtleUtf8Row) + "\n");
  form.OpenDialog1 = [&dir] { return QString::fromStdString(dir.File("zolw.csv")); };
  form.Otwrz1Click();
}
