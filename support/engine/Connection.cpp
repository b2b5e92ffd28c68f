#include "support/engine/Connection.h"

#include "support/engine/ConnectString.h"

#include <algorithm>
#include <cctype>

namespace qx::engine {

void ConnectionCore::fail(const sql::Error& e) {
    errors.clear();
    errors.push_back({e.code, e.message});
}

std::string PasswordBytes(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        auto c = static_cast<unsigned char>(s[i]);
        unsigned cp = c;
        size_t len = 1;
        if (c >= 0xF0 && c < 0xF8) { cp = c & 0x07; len = 4; }
        else if (c >= 0xE0) { cp = c & 0x0F; len = 3; }
        else if (c >= 0xC0) { cp = c & 0x1F; len = 2; }
        if (len > 1) {
            if (i + len > s.size()) { len = 1; cp = c; }
            else
                for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        }
        out += static_cast<char>(cp & 0xFF);
        i += len;
    }
    return out;
}

Connection::Connection(Env& env) : m_env(env) {}
Connection::~Connection() { close(); }

bool Connection::open(std::string connectString) {
    m_connectString = std::move(connectString);
    return open();
}

bool Connection::open() {
    close();
    auto core = std::make_shared<ConnectionCore>();
    const ConnectString cs = ConnectString::Parse(m_connectString);
    std::string path = cs.dataSource();
    if (path.empty()) {
        core->fail({sql::kCantOpen, "The connect string names no data source."});
        m_core = std::move(core);
        return false;
    }
    path = m_env.Absolute(path);
    sql::Error err;
    const sql::OpenMode mode = cs.readOnly() ? sql::OpenMode::ReadOnly : sql::OpenMode::ReadWrite;
    core->db = sql::Database::open(m_env, path, PasswordBytes(cs.password()), mode, err);
    if (err) core->fail(err);
    m_dataSource = path;
    m_core = std::move(core);
    return isOpen();
}

void Connection::close() {
    if (m_core) {
        m_core->prepared.clear();  // statements first, so the file is really closed
        m_core->db.close();
    }
}

sql::Statement* Connection::prepared(std::string_view sql) {
    if (!isOpen()) {
        if (!m_core) m_core = std::make_shared<ConnectionCore>();
        m_core->fail({sql::kMisuse, "Operation is not allowed when the object is closed."});
        return nullptr;
    }
    auto it = m_core->prepared.find(sql);
    if (it == m_core->prepared.end()) {
        sql::Statement st(m_core->db, sql);
        if (!st.ok()) {
            m_core->fail(st.error());
            return nullptr;
        }
        it = m_core->prepared.emplace(std::string(sql), std::move(st)).first;
    }
    it->second.reset();
    return &it->second;
}

std::optional<std::string> Connection::property(std::string_view name) const {
    std::string n(name);
    std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return std::toupper(c); });
    if (n == "DATA SOURCE" && isOpen()) return m_dataSource;
    return std::nullopt;
}

std::string Connection::dataSource() const { return property("DATA SOURCE").value_or(""); }

std::optional<std::int64_t> Connection::execute(std::string_view sql) {
    if (!isOpen()) {
        if (!m_core) m_core = std::make_shared<ConnectionCore>();
        m_core->fail({sql::kMisuse, "Operation is not allowed when the object is closed."});
        return std::nullopt;
    }
    sql::Statement st(m_core->db, sql);
    if (!st.ok() || !st.run()) {
        m_core->fail(st.error());
        return std::nullopt;
    }
    return m_core->db.changes();
}

const std::vector<ProviderError>& Connection::errors() const {
    static const std::vector<ProviderError> none;
    return m_core ? m_core->errors : none;
}

void Connection::clearErrors() {
    if (m_core) m_core->errors.clear();
}

std::vector<CatalogTable> Connection::tables() const {
    std::vector<CatalogTable> out;
    if (!isOpen()) return out;
    sql::Statement st(m_core->db, "SELECT name, type FROM sqlite_master WHERE type IN ('table', 'view')");
    while (st.step() == sql::Step::Row) {
        std::string name = st.getText(0);
        std::string type = st.getText(1) == "view" ? "VIEW" : (name.rfind("sqlite_", 0) == 0 ? "SYSTEM TABLE" : "TABLE");
        out.push_back({std::move(name), std::move(type)});
    }
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
        return s;
    };
    std::stable_sort(out.begin(), out.end(),
                     [&](const CatalogTable& a, const CatalogTable& b) { return lower(a.name) < lower(b.name); });
    return out;
}

bool Connection::isReadOnly() const { return !isOpen() || m_core->db.readOnly(); }

sql::Database& Connection::database() {
    if (!m_core) m_core = std::make_shared<ConnectionCore>();
    return m_core->db;
}

sql::Database CreateDatabaseFile(Env& env, const std::string& path, std::string_view password, sql::Error& err) {
    return sql::Database::open(env, path, PasswordBytes(password), sql::OpenMode::Create, err);
}

}  // namespace qx::engine
