#include "DatabaseTable.h"

#include <gtest/gtest.h>

TEST(DatabaseTable, Placeholder) { EXPECT_EQ(TDatabaseTable().RowCount(), 5); }
