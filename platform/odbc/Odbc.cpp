#include "platform/odbc/Odbc.h"

#include <algorithm>
#include <cctype>

#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

namespace veldrix::odbc {

namespace {

// A driver that does not answer within this is taken for one that is down.
constexpr SQLULEN kLoginSeconds = 5;
constexpr SQLULEN kQuerySeconds = 10;

std::basic_string<SQLWCHAR> Wide(const std::string& utf8) {
    std::basic_string<SQLWCHAR> out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        uint32_t code = c;
        size_t more = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        if (more) code = c & (0x3F >> more);
        if (i + more >= utf8.size()) {  // cut short: not a character
            code = '?';
            more = utf8.size() - i - 1;
        } else {
            for (size_t k = 1; k <= more; ++k) code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        i += more + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += SQLWCHAR(0xD800 + (code >> 10));
            out += SQLWCHAR(0xDC00 + (code & 0x3FF));
        } else {
            out += SQLWCHAR(code);
        }
    }
    return out;
}

std::string Utf8(const SQLWCHAR* text, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The values of the connection's password keys.
std::vector<std::string> Passwords(const std::string& connection) {
    std::vector<std::string> found;
    size_t at = 0;
    while (at < connection.size()) {
        size_t eq = connection.find('=', at);
        if (eq == std::string::npos) break;
        std::string key = Lower(connection.substr(at, eq - at));
        key.erase(0, key.find_first_not_of(" \t"));
        size_t end;
        std::string value;
        if (eq + 1 < connection.size() && connection[eq + 1] == '{') {
            end = connection.find('}', eq + 2);
            if (end == std::string::npos) end = connection.size();
            value = connection.substr(eq + 2, end - eq - 2);
            end = connection.find(';', end);
        } else {
            end = connection.find(';', eq);
            value = connection.substr(eq + 1, end == std::string::npos ? std::string::npos : end - eq - 1);
        }
        if ((key == "pwd" || key == "password") && !value.empty()) found.push_back(value);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return found;
}

}  // namespace

std::string WithoutSecrets(const std::string& text, const std::string& connection) {
    std::string out = text;
    // A password key and its value, as a driver may quote the string back.
    for (const char* key : {"pwd=", "password="}) {
        std::string lower = Lower(out);
        for (size_t at = lower.find(key); at != std::string::npos; at = lower.find(key, at + 1)) {
            size_t from = at + std::string(key).size();
            const char open = from < out.size() ? out[from] : 0;
            const char close = open == '{' ? '}' : open == '\'' || open == '"' ? open : 0;
            size_t end = close ? out.find(close, from + 1) : out.find_first_of("; \t\r\n'\"", from);
            if (end == std::string::npos) end = out.size();
            else if (close) ++end;
            out.replace(from, end - from, "***");
            lower = Lower(out);
        }
    }
    // The password itself, wherever else it shows (short ones would hide every such letter).
    for (const std::string& secret : Passwords(connection)) {
        if (secret.size() < 3) continue;
        for (size_t at = out.find(secret); at != std::string::npos; at = out.find(secret, at + 3))
            out.replace(at, secret.size(), "***");
    }
    return out;
}

std::string DsnConnection(const std::string& dsn) { return "DSN=" + dsn + ";"; }

namespace {

// The value of key in a connection string ("KEY=value;" or "KEY={value};").
std::string ConnectionValue(const std::string& connection, const std::string& key) {
    size_t at = 0;
    while (at < connection.size()) {
        size_t eq = connection.find('=', at);
        if (eq == std::string::npos) break;
        std::string name = connection.substr(at, eq - at);
        size_t start = name.find_first_not_of(' ');
        name = start == std::string::npos ? "" : name.substr(start);
        size_t end = eq + 1;
        std::string value;
        if (end < connection.size() && connection[end] == '{') {
            size_t close = connection.find('}', end);
            if (close == std::string::npos) close = connection.size();
            value = connection.substr(end + 1, close - end - 1);
            end = connection.find(';', close);
        } else {
            end = connection.find(';', end);
            value = connection.substr(eq + 1, (end == std::string::npos ? connection.size() : end) - eq - 1);
        }
        bool same = name.size() == key.size();
        for (size_t i = 0; same && i < key.size(); ++i)
            same = std::tolower(static_cast<unsigned char>(name[i])) == std::tolower(static_cast<unsigned char>(key[i]));
        if (same) return value;
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return {};
}

bool IsConnectionString(const std::string& text) { return text.find('=') != std::string::npos; }

}  // namespace

std::string ConnectionOf(const std::string& dsnOrConnection) {
    return IsConnectionString(dsnOrConnection) ? dsnOrConnection : DsnConnection(dsnOrConnection);
}

std::string SourceName(const std::string& dsnOrConnection) {
    if (!IsConnectionString(dsnOrConnection)) return dsnOrConnection;
    if (std::string dsn = ConnectionValue(dsnOrConnection, "DSN"); !dsn.empty()) return dsn;
    std::string database = ConnectionValue(dsnOrConnection, "Database");
    std::string server = ConnectionValue(dsnOrConnection, "Server");
    if (!database.empty() && !server.empty()) return database + "@" + server;
    if (!database.empty()) return database;
    if (!server.empty()) return server;
    return "records_odbc";
}

Connection::Connection(std::string connection) : connection_(std::move(connection)) {}

Connection::~Connection() { Disconnect(); }

bool Connection::Failed(short handleType, void* handle) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR text[1024];
    SQLSMALLINT length = 0;
    last_ = Problem{};
    std::string message;
    for (SQLSMALLINT n = 1; n <= 3; ++n) {
        if (!SQL_SUCCEEDED(SQLGetDiagRecW(handleType, handle, n, state, &native, text,
                                          SQLSMALLINT(sizeof text / sizeof text[0]), &length)))
            break;
        if (n == 1) {
            last_.state = Utf8(state, 5);
            last_.native = long(native);
        }
        std::string line = Utf8(text, std::min<size_t>(size_t(std::max<SQLSMALLINT>(length, 0)), 1023));
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) message += (message.empty() ? "" : "; ") + line;
    }
    if (message.empty()) message = "ODBC";
    last_.message = WithoutSecrets(message, connection_);
    return false;
}

bool Connection::Connect() {
    if (dbc_) return true;
    last_ = Problem{};
    if (!env_) {
        SQLHANDLE env = nullptr;
        if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
            last_ = {"HY001", "ODBC"};
            return false;
        }
        env_ = env;
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    }
    SQLHANDLE dbc = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc))) return Failed(SQL_HANDLE_ENV, env_);
    SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginSeconds), 0);
    std::basic_string<SQLWCHAR> text = Wide(connection_);
    SQLWCHAR out[1024];
    SQLSMALLINT outLength = 0;
    if (!SQL_SUCCEEDED(SQLDriverConnectW(dbc, nullptr, text.data(), SQLSMALLINT(text.size()), out,
                                         SQLSMALLINT(sizeof out / sizeof out[0]), &outLength, SQL_DRIVER_NOPROMPT))) {
        Failed(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        return false;
    }
    if (!SQL_SUCCEEDED(SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
        Failed(SQL_HANDLE_DBC, dbc);
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        return false;
    }
    dbc_ = dbc;
    return true;
}

void Connection::Disconnect() {
    CloseStatement();
    if (dbc_) {
        SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
        SQLDisconnect(dbc_);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
        dbc_ = nullptr;
    }
    if (env_) {
        SQLFreeHandle(SQL_HANDLE_ENV, env_);
        env_ = nullptr;
    }
}

void Connection::CloseStatement() {
    if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    stmt_ = nullptr;
    columns_ = 0;
}

bool Connection::Run(const std::string& sql, const std::vector<Value>& values) {
    CloseStatement();
    last_ = Problem{};
    if (!dbc_) {
        last_ = {"08003", "not connected"};
        return false;
    }
    SQLHANDLE stmt = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt))) return Failed(SQL_HANDLE_DBC, dbc_);
    stmt_ = stmt;
    SQLSetStmtAttrW(stmt, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(kQuerySeconds), 0);
    std::basic_string<SQLWCHAR> text = Wide(sql);
    if (!SQL_SUCCEEDED(SQLPrepareW(stmt, text.data(), SQLINTEGER(text.size())))) return Failed(SQL_HANDLE_STMT, stmt);
    // Kept until the statement has run: the driver reads them then.
    std::vector<std::basic_string<SQLWCHAR>> texts(values.size());
    std::vector<int64_t> numbers(values.size());
    std::vector<SQLLEN> lengths(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        SQLRETURN bound;
        const SQLUSMALLINT n = SQLUSMALLINT(i + 1);
        if (const auto* s = std::get_if<std::string>(&values[i])) {
            texts[i] = Wide(*s);
            lengths[i] = SQLLEN(texts[i].size() * sizeof(SQLWCHAR));
            bound = SQLBindParameter(stmt, n, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                                     std::max<SQLULEN>(texts[i].size(), 1), 0, texts[i].data(), lengths[i], &lengths[i]);
        } else if (const auto* v = std::get_if<int64_t>(&values[i])) {
            numbers[i] = *v;
            lengths[i] = 0;
            bound = SQLBindParameter(stmt, n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &numbers[i], 0,
                                     &lengths[i]);
        } else {
            lengths[i] = SQL_NULL_DATA;
            bound = SQLBindParameter(stmt, n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, &numbers[i], 0,
                                     &lengths[i]);
        }
        if (!SQL_SUCCEEDED(bound)) return Failed(SQL_HANDLE_STMT, stmt);
    }
    SQLRETURN ran = SQLExecute(stmt);
    if (ran != SQL_NO_DATA && !SQL_SUCCEEDED(ran)) return Failed(SQL_HANDLE_STMT, stmt);
    SQLNumResultCols(stmt, &columns_);
    return true;
}

bool Connection::Fetch(std::vector<std::optional<std::string>>& columns) {
    columns.clear();
    if (!stmt_ || columns_ <= 0) return false;
    SQLRETURN fetched = SQLFetch(stmt_);
    if (fetched == SQL_NO_DATA) return false;
    if (!SQL_SUCCEEDED(fetched)) return Failed(SQL_HANDLE_STMT, stmt_);
    for (SQLUSMALLINT c = 1; c <= SQLUSMALLINT(columns_); ++c) {
        std::basic_string<SQLWCHAR> value;
        SQLWCHAR piece[512];
        SQLLEN length = 0;
        bool null = false;
        for (;;) {
            SQLRETURN got = SQLGetData(stmt_, c, SQL_C_WCHAR, piece, sizeof piece, &length);
            if (got == SQL_NO_DATA) break;
            if (!SQL_SUCCEEDED(got)) return Failed(SQL_HANDLE_STMT, stmt_);
            if (length == SQL_NULL_DATA) {
                null = true;
                break;
            }
            size_t whole = sizeof piece / sizeof piece[0] - 1;
            size_t count = length == SQL_NO_TOTAL || size_t(length) / sizeof(SQLWCHAR) > whole
                               ? whole
                               : size_t(length) / sizeof(SQLWCHAR);
            value.append(piece, count);
            if (got == SQL_SUCCESS) break;
        }
        if (null) columns.emplace_back(std::nullopt);
        else columns.emplace_back(Utf8(value.data(), value.size()));
    }
    return true;
}

int64_t Connection::RowsChanged() {
    SQLLEN rows = 0;
    if (!stmt_ || !SQL_SUCCEEDED(SQLRowCount(stmt_, &rows))) return -1;
    return int64_t(rows);
}

bool Connection::Commit() {
    CloseStatement();
    if (!dbc_) return false;
    if (SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_COMMIT))) return true;
    return Failed(SQL_HANDLE_DBC, dbc_);
}

void Connection::Rollback() {
    CloseStatement();
    if (dbc_) SQLEndTran(SQL_HANDLE_DBC, dbc_, SQL_ROLLBACK);
}

bool Connection::TableExists(const std::string& name, bool& exists) {
    CloseStatement();
    exists = false;
    if (!dbc_) return false;
    SQLHANDLE stmt = nullptr;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt))) return Failed(SQL_HANDLE_DBC, dbc_);
    stmt_ = stmt;
    std::basic_string<SQLWCHAR> table = Wide(name), type = Wide("TABLE");
    if (!SQL_SUCCEEDED(SQLTablesW(stmt, nullptr, 0, nullptr, 0, table.data(), SQLSMALLINT(table.size()), type.data(),
                                  SQLSMALLINT(type.size()))))
        return Failed(SQL_HANDLE_STMT, stmt);
    SQLNumResultCols(stmt, &columns_);
    std::vector<std::optional<std::string>> row;
    last_ = Problem{};
    while (Fetch(row))
        if (row.size() >= 3 && row[2] && Lower(*row[2]) == Lower(name)) exists = true;
    CloseStatement();
    return last_.state.empty();  // else the rows ended on an error
}

}  // namespace veldrix::odbc
