#pragma once
// Helpers of the archive tests: messages in the program's Windows-1251
// text, queries, and SQL run on a file directly.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "platform/cp1251.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace vestrel::test {

// A message as a reading shows it; number, time and text given in UTF-8.
inline archive::ShownMessage Shown(const std::string& number, const std::string& time,
                                   const std::string& text_utf8, std::optional<int> index = 0,
                                   const std::string& port = "COM11") {
  archive::ShownMessage m;
  m.port = port;
  m.storage_index = index;
  m.number = platform::Cp1251FromUtf8(number);
  m.send_time = platform::Cp1251FromUtf8(time);
  m.text = platform::Cp1251FromUtf8(text_utf8);
  m.raw_header = "+CMGR: \"REC UNREAD\",\"" + number + "\",,\"" + time + "+12\"";
  m.raw_body = "0041";
  return m;
}

inline archive::Query Matching(const std::string& match, std::int32_t limit = 0) {
  archive::Query query;
  query.match = match;
  query.limit = limit;
  return query;
}

inline archive::Query Since(const std::string& since) {
  archive::Query query;
  query.since = since;
  return query;
}

inline archive::Options WithBusyTimeout(std::chrono::milliseconds timeout) {
  archive::Options options;
  options.busy_timeout = timeout;
  return options;
}

// Every row of a query on the file, its columns joined by '|'.
inline std::vector<std::string> Sql(const std::filesystem::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> rows;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << file << ": " << sqlite3_errmsg(db);
    sqlite3_close(db);
    return rows;
  }
  char* error = nullptr;
  sqlite3_exec(
      db, sql.c_str(),
      [](void* out, int n, char** values, char**) {
        std::string row;
        for (int i = 0; i < n; ++i) row += (i ? "|" : "") + std::string(values[i] ? values[i] : "");
        static_cast<std::vector<std::string>*>(out)->push_back(row);
        return 0;
      },
      &rows, &error);
  if (error) ADD_FAILURE() << sql << ": " << error;
  sqlite3_free(error);
  sqlite3_close(db);
  return rows;
}

}  // namespace vestrel::test
