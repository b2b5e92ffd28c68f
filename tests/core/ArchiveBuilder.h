#pragma once
// Small archives for tests, built row by row: a main database of a given
// generation, its OCR database, and sub databases with documents.
#include "database/access/FileNames.h"
#include "database/access/Schema.h"
#include "support/engine/Connection.h"

#include <gtest/gtest.h>

#include <string>

namespace qx::test {

class ArchiveBuilder {
public:
    explicit ArchiveBuilder(const std::string& folder, int generation = 8, const std::string& name = "Kantoor") {
        main = folder + "/" + name + ".dat";
        password = PasswordForGeneration(generation);
        sql::Error err;
        EXPECT_TRUE(CreateMainDatabase(qx::RealEnv(), main, generation, err)) << err.message;
        EXPECT_TRUE(CreateOmdDatabase(qx::RealEnv(), OmdName(main), err)) << err.message;
        exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME) VALUES (1, 0, -1, 'Map')");
    }

    // Sub database n with its DATABASES row (stored path: `stored`, or its
    // standard path) and one document per id stored in it.
    ArchiveBuilder& sub(long n, std::initializer_list<long> ids, const std::string& stored = "") {
        const std::string path = SubDatabaseName(main, n);
        sql::Error err;
        EXPECT_TRUE(CreateSubDatabaseFile(qx::RealEnv(), path, password, err)) << err.message;
        exec("INSERT INTO DATABASES (ID, DATABASE) VALUES (" + std::to_string(n) + ", " +
             SqlText(stored.empty() ? path : stored) + ")");
        sql::Database pdb = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
        for (long id : ids) {
            exec("INSERT INTO FOLDERS (ID, PARENT, ISFOLDER, NAME, DATABASEID) VALUES (" + std::to_string(id) +
                 ", 1, 0, 'doc" + std::to_string(id) + "', " + std::to_string(n) + ")");
            EXPECT_TRUE(pdb.exec("INSERT INTO PICTURES (ID, PICTURE) VALUES (" + std::to_string(id) + ", x'0102')"));
        }
        return *this;
    }

    void exec(const std::string& sql) { Exec(main, password, sql); }
    // On the standard file of sub database n.
    void execIn(long n, const std::string& sql) { Exec(SubDatabaseName(main, n), password, sql); }
    static void Exec(const std::string& path, const std::string& password, const std::string& sql) {
        sql::Error err;
        sql::Database db = sql::Database::open(qx::RealEnv(), path, engine::PasswordBytes(password), sql::OpenMode::ReadWrite, err);
        EXPECT_TRUE(db.exec(sql, &err)) << path << ": " << sql << ": " << err.message;
    }

    // A quoted SQL text literal, for paths that may hold quotes.
    static std::string SqlText(const std::string& text) {
        std::string out = "'";
        for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
        return out + "'";
    }

    std::string main, password;
};

}  // namespace qx::test
