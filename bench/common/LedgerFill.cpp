#include "LedgerFill.h"

#include "Ledger.h"
#include "Sqlite.h"

#include <QDateTime>

#include <cstdint>

void FillLedger(const std::string& stateDirectory, int scales, int transfers, const std::string& digest, int firstPort) {
  { TLedger create(stateDirectory); }
  TSqliteDatabase db(stateDirectory + kLedgerFileName);
  TSqliteTransaction transaction(db);
  TSqliteStatement insert = db.Prepare(R"(
INSERT INTO transfers(scale, name, link, started, started_ms, ended_ms, program, user, host, file, kind, rows, digest,
                      reached, result, records_sent, seconds)
VALUES(?1, ?2, ?1, '2026-12-09T02:30:00.000+01:00', ?3, ?3, 'scaledb-send', 'shop', 'host', '/srv/prices.csv',
       'products', 10000, ?4, 1, ?5, 10000, 1000.0))");
  const int64_t now = QDateTime::currentMSecsSinceEpoch();
  for (int i = 0; i < transfers; ++i) {
    const int scale = i % scales;
    const bool last = i >= transfers - scales;
    const std::string key = "tcp:127.0.0.1:" + std::to_string(firstPort + scale);
    insert.Bind(1, key).Bind(2, "scale" + std::to_string(scale)).Bind(3, now - (transfers - i) * int64_t{1000});
    insert.Bind(4, last ? digest : std::string("older")).Bind(5, std::string(last || i % 2 ? "sent" : "failed"));
    insert.Run();
  }
  RebuildScales(db);
  transaction.Commit();
}
