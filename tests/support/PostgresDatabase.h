#pragma once

#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

namespace testsupport {

// A database of its own in the private cluster of tests/fixtures/with-postgres.sh, made for one
// test and dropped after it, so tests that run side by side never see each other's rows.
class PostgresDatabase {
public:
    PostgresDatabase()
    {
        const char* socket = std::getenv("STRIMO_TEST_POSTGRES_SOCKET");
        if (!socket || !*socket) {
            throw std::runtime_error("no PostgreSQL cluster: run this under tests/fixtures/with-postgres.sh");
        }
        socket_ = socket;
        static std::atomic<int> made{0};
        name_ = "t" + std::to_string(::getpid()) + "_" + std::to_string(made++);
        Admin("CREATE DATABASE " + name_);
    }
    ~PostgresDatabase()
    {
        try {
            Admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
        } catch (...) {
            // The cluster goes with the fixture anyway.
        }
    }
    PostgresDatabase(const PostgresDatabase&) = delete;
    PostgresDatabase& operator=(const PostgresDatabase&) = delete;

    std::string Url() const { return "postgresql:///" + name_ + "?host=" + socket_ + "&user=strimo"; }

    // Runs SQL in this database (a test's own rows, as an earlier version or the operator wrote them).
    void Run(const std::string& sql) const { Exec(Url(), sql); }

private:
    void Admin(const std::string& sql) const
    {
        Exec("postgresql:///postgres?host=" + socket_ + "&user=strimo", sql);
    }
    static void Exec(const std::string& url, const std::string& sql)
    {
        std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(url.c_str()), &PQfinish);
        if (PQstatus(conn.get()) != CONNECTION_OK) throw std::runtime_error(PQerrorMessage(conn.get()));
        PQsetNoticeProcessor(conn.get(), [](void*, const char*) {}, nullptr);
        std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(conn.get(), sql.c_str()), &PQclear);
        const auto status = PQresultStatus(result.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            throw std::runtime_error(sql + ": " + PQresultErrorMessage(result.get()));
        }
    }

    std::string socket_;
    std::string name_;
};

}  // namespace testsupport
