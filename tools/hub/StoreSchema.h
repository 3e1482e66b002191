// The store's tables, version by version.
//
//   SchemaSteps  - the statements that take a store from version n - 1 to n
//                  (index 0 makes version 1 from nothing), in the SQL both
//                  databases share; only the identity column and the blob
//                  type are spelt per dialect
//   StoredVersion- the version a store has (0: no tables of the hub yet)
//   Migrate      - brings a store to SchemaVersion, one transaction a step;
//                  refuses a newer store
#pragma once

#include <QStringList>

#include <vector>

#include "SqlConnection.h"

namespace gs::hub {

std::vector<QStringList> SchemaSteps(Dialect dialect);

int StoredVersion(SqlConnection& sql);

void Migrate(SqlConnection& sql);

}  // namespace gs::hub
