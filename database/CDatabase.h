#pragma once
// All database logic of an open archive, in one class. Its member functions
// are spread over files by concern: access/ (connections, sub databases,
// documents), checks/ and maintenance/.
#include "database/MainWindow.h"
#include "support/engine/Connection.h"

#include <memory>
#include <string>
#include <vector>

namespace qx {

using ConnectionPtr = std::unique_ptr<engine::Connection>;  // may be empty

class CDatabase {
public:
    explicit CDatabase(MainWindow& window);
    ~CDatabase();
    CDatabase(const CDatabase&) = delete;
    CDatabase& operator=(const CDatabase&) = delete;

    ConnectionPtr m_AdoCnMain;
    ConnectionPtr m_AdoCnPdb;
    bool m_bShowErrors = true;

    // -- connection and opening
    static std::string ConnectString(const std::string& sFileName, const std::string& sPwd);
    static std::string ConnectStringOMD(const std::string& sFileName);
    bool OpenDatabase(std::string sConnectString, bool bAllowReadOnly = false);
    std::string MainDatabaseName() const;
    void SetDatabase(ConnectionPtr connection);
    void SetPicbase(ConnectionPtr connection);
    static bool Connected(const ConnectionPtr& connection);
    static void Disconnect(ConnectionPtr& connection);

    // -- sub databases
    // Points m_AdoCnPdb at the sub database of document nId: 0 when it is open
    // and answered, else ResultPdbDamaged (1), ResultPdbNotFound (2),
    // ResultPdbLinkError (32) or ResultPdbOpenError (512).
    short OpenPicbase(long& nId, std::string* sPicbaseName = nullptr, long* nDatabaseId = nullptr);

    MainWindow& Window() { return m_window; }

private:
    bool CreateSubDatabase(const std::string& sFileName);
    friend struct CDatabaseTestAccess;

    ConnectionPtr OpenConnection(const std::string& sConnectString);
    void ShowConnectionErrors(const std::vector<engine::ProviderError>& errors);
    bool WriteProbe(const std::string& path);
    void TestOmdDatabase(const std::string& mainPath);

    MainWindow& m_window;
};

}  // namespace qx
