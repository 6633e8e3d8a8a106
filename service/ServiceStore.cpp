#include "ServiceStore.h"

#include "PostgresStore.h"
#include "SqliteStore.h"

bool ServiceStore::IsPostgresUrl(const std::string& database)
{
    return database.rfind("postgresql://", 0) == 0 || database.rfind("postgres://", 0) == 0;
}

std::unique_ptr<ServiceStore> ServiceStore::Open(const std::string& database)
{
    if (IsPostgresUrl(database)) return std::make_unique<PostgresStore>(database);
    return std::make_unique<SqliteStore>(database);
}
