#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace larkspire::server {

struct SqliteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// One prepared statement; values bound by position starting at 1.
class Statement {
  public:
    Statement(sqlite3* db, std::string_view sql);

    Statement& bind(int index, std::string_view text);
    Statement& bind(int index, const char* text) { return bind(index, std::string_view(text)); }
    Statement& bind(int index, const std::string& text) {
        return bind(index, std::string_view(text));
    }
    Statement& bind(int index, int64_t value);
    Statement& bind(int index, int value) { return bind(index, static_cast<int64_t>(value)); }
    Statement& bind(int index, bool value) { return bind(index, static_cast<int64_t>(value)); }
    Statement& bind(int index, double value);
    Statement& bind(int index, std::nullopt_t);
    Statement& bind(int index, const std::optional<std::string>& text);
    Statement& bind(int index, const std::optional<int64_t>& value);

    template <typename... Values>
    Statement& bindAll(const Values&... values) {
        int index = 1;
        (bind(index++, values), ...);
        return *this;
    }

    // Advances to the next row; false when there is none.
    bool step();
    // Runs a statement that returns no rows.
    void run();

    std::string text(int column) const;
    std::optional<std::string> optionalText(int column) const;
    int64_t integer(int column) const;
    double real(int column) const;
    bool isNull(int column) const;

  private:
    struct Finalize {
        void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
    };
    sqlite3* db_;
    std::unique_ptr<sqlite3_stmt, Finalize> stmt_;
};

class Database {
  public:
    explicit Database(const std::filesystem::path& file);

    void exec(std::string_view sql);
    Statement prepare(std::string_view sql) { return Statement(db_.get(), sql); }
    int64_t changes() const { return sqlite3_changes(db_.get()); }

  private:
    struct Close {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    std::unique_ptr<sqlite3, Close> db_;
};

}  // namespace larkspire::server
