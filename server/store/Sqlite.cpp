#include "server/store/Sqlite.h"

namespace larkspire::server {

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr) !=
        SQLITE_OK) {
        throw SqliteError(std::string("prepare failed: ") + sqlite3_errmsg(db));
    }
    stmt_.reset(raw);
}

Statement& Statement::bind(int index, std::string_view text) {
    if (sqlite3_bind_text(stmt_.get(), index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT) != SQLITE_OK) {
        throw SqliteError(sqlite3_errmsg(db_));
    }
    return *this;
}

Statement& Statement::bind(int index, int64_t value) {
    if (sqlite3_bind_int64(stmt_.get(), index, value) != SQLITE_OK) {
        throw SqliteError(sqlite3_errmsg(db_));
    }
    return *this;
}

Statement& Statement::bind(int index, double value) {
    if (sqlite3_bind_double(stmt_.get(), index, value) != SQLITE_OK) {
        throw SqliteError(sqlite3_errmsg(db_));
    }
    return *this;
}

Statement& Statement::bind(int index, std::nullopt_t) {
    if (sqlite3_bind_null(stmt_.get(), index) != SQLITE_OK) {
        throw SqliteError(sqlite3_errmsg(db_));
    }
    return *this;
}

Statement& Statement::bind(int index, const std::optional<std::string>& text) {
    return text ? bind(index, std::string_view(*text)) : bind(index, std::nullopt);
}

Statement& Statement::bind(int index, const std::optional<int64_t>& value) {
    return value ? bind(index, *value) : bind(index, std::nullopt);
}

bool Statement::step() {
    int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) {
        return true;
    }
    if (rc == SQLITE_DONE) {
        return false;
    }
    throw SqliteError(std::string("step failed: ") + sqlite3_errmsg(db_));
}

void Statement::run() {
    while (step()) {
    }
}

std::string Statement::text(int column) const {
    auto* data = sqlite3_column_text(stmt_.get(), column);
    int size = sqlite3_column_bytes(stmt_.get(), column);
    return data ? std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(size))
                : std::string();
}

std::optional<std::string> Statement::optionalText(int column) const {
    if (isNull(column)) {
        return std::nullopt;
    }
    return text(column);
}

int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_.get(), column);
}
double Statement::real(int column) const {
    return sqlite3_column_double(stmt_.get(), column);
}
bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
}

Database::Database(const std::filesystem::path& file) {
    sqlite3* raw = nullptr;
    int rc =
        sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK) {
        throw SqliteError("cannot open " + file.string() + ": " +
                          (raw ? sqlite3_errmsg(raw) : "out of memory"));
    }
    sqlite3_busy_timeout(raw, 5000);
    exec("PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON;");
}

void Database::exec(std::string_view sql) {
    char* message = nullptr;
    std::string copy(sql);
    if (sqlite3_exec(db_.get(), copy.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "unknown error";
        sqlite3_free(message);
        throw SqliteError("exec failed: " + text);
    }
}

}  // namespace larkspire::server
