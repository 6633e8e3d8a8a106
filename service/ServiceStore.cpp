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

const char* ServiceStore::StateName(RoomState state)
{
    switch (state) {
    case RoomState::Issued: return "issued";
    case RoomState::Live: return "live";
    case RoomState::Ended: break;
    }
    return "ended";
}

ServiceStore::RoomState ServiceStore::StateNamed(const std::string& name)
{
    if (name == "issued") return RoomState::Issued;
    if (name == "live") return RoomState::Live;
    return RoomState::Ended;
}
