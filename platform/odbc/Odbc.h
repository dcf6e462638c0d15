#pragma once
// A connection to a database through ODBC (odbc32 on Windows, unixODBC
// elsewhere), for the record store: statements with bound parameters only,
// UTF-8 in and out (UTF-16 on the wire to the driver), one transaction at a
// time. Not thread-safe: its owner guards it.
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace veldrix::odbc {

// A parameter's value: NULL, a whole number or a text.
using Value = std::variant<std::monostate, int64_t, std::string>;

// What went wrong, in the driver's words without the connection's secrets.
struct Problem {
    std::string state;    // the SQLSTATE of the first diagnostic ("08001")
    std::string message;  // "[unixODBC]...", PWD/Password parts removed
    long native = 0;      // the driver's own error number
    // A constraint refused the change (a unique key already there). SQLite's
    // driver says so only by its own number.
    bool Constraint() const {
        return (state.size() == 5 && state.compare(0, 2, "23") == 0) ||
               (native == 19 && message.find("[SQLite]") != std::string::npos);
    }
};

class Connection {
public:
    // connection: an ODBC connection string (a secret: it is never shown).
    explicit Connection(std::string connection);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Connects when not connected; false (and Last() says why) when it cannot.
    bool Connect();
    void Disconnect();
    bool Connected() const { return dbc_ != nullptr; }

    // Runs sql with ? for each value; rows are there for Fetch afterwards.
    bool Run(const std::string& sql, const std::vector<Value>& values = {});
    // The next row of the last Run into columns as texts (NULL: nothing); false at the end.
    bool Fetch(std::vector<std::optional<std::string>>& columns);
    // Rows the last Run changed.
    int64_t RowsChanged();
    bool Commit();
    void Rollback();
    // Whether a table of this name exists (SQLTables).
    bool TableExists(const std::string& name, bool& exists);

    const Problem& Last() const { return last_; }

private:
    bool Failed(short handleType, void* handle);
    void CloseStatement();
    std::string connection_;
    void* env_ = nullptr;
    void* dbc_ = nullptr;
    void* stmt_ = nullptr;
    short columns_ = 0;
    Problem last_;
};

// text with every PWD=... and Password=... part of a connection string, and
// any password the connection names, replaced by "***".
std::string WithoutSecrets(const std::string& text, const std::string& connection);
// The connection string of a data source name.
std::string DsnConnection(const std::string& dsn);
// What the program key's records_odbc holds, a data source name or a whole
// connection string, as a connection string.
std::string ConnectionOf(const std::string& dsnOrConnection);
// How texts name a data source without its secrets: its DSN, else its
// database and server, else "records_odbc".
std::string SourceName(const std::string& dsnOrConnection);

}  // namespace veldrix::odbc
