#include "ContentDigest.h"

#include "DatabaseTable.h"
#include "ScaleCommands.h"
#include "Transfer.h"

#include <QCryptographicHash>

std::string ContentDigest(const TDatabaseTable& table, int kindPosition,
                          const std::function<std::string(std::string)>& encode) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  const auto add = [&hash](const std::string& command) {
    hash.addData(QByteArrayView(command.data(), static_cast<qsizetype>(command.size())));
    hash.addData(QByteArrayView("\n", 1));
  };
  add(StartCommand(kindPosition).value_or(""));
  for (int row = 0; row < table.RowCount(); ++row)
    add(std::string(kRecordCommand) + (encode ? encode(table.RowText(row)) : table.RowText(row)));
  add(std::string(kEndCommand));
  return hash.result().toHex().toStdString();
}
