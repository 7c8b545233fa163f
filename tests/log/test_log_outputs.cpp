// Log entries for pipelines: the JSON writer's escaping, the RFC 3339 time,
// and an entry's JSON line and journal fields.
#include <gtest/gtest.h>

#include <clocale>
#include <ctime>
#include <string>

#include "log/event_log.h"
#include "log/json_writer.h"
#include "log/local_time.h"
#include "log/log_outputs.h"
#include "log/time_stamp.h"
#include "monitor/location_cache.h"

namespace tarnwick {
namespace {

std::string Json(std::string_view text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

TEST(JsonString, EscapesQuotesBackslashAndControlBytes) {
    EXPECT_EQ(Json(R"(say "hi" \ C:\temp)"), R"("say \"hi\" \\ C:\\temp")");
    EXPECT_EQ(Json(std::string("a\tb\nc\rd\x1b\x1f\x7f\x01", 11) + std::string(1, '\0')),
              R"("a\u0009b\u000ac\u000dd\u001b\u001f\u007f\u0001\u0000")");
    EXPECT_EQ(Json(""), R"("")");
}

TEST(JsonString, KeepsValidUtf8AndReplacesEveryInvalidByte) {
    // Two-, three- and four-byte characters pass as they are.
    EXPECT_EQ(Json("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"), "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\"");
    EXPECT_EQ(Json("\xef\xbf\xbf\xf4\x8f\xbf\xbf"), "\"\xef\xbf\xbf\xf4\x8f\xbf\xbf\"");  // U+FFFF, U+10FFFF
    // Latin-1 bytes, a stray continuation byte, a cut-off sequence at the end.
    EXPECT_EQ(Json("caf\xe9"), R"("caf\ufffd")");
    EXPECT_EQ(Json("a\x80z"), R"("a\ufffdz")");
    EXPECT_EQ(Json("\xe2\x82"), R"("\ufffd\ufffd")");
    // Cut off by the end of the text even where the bytes after it in memory
    // would complete it.
    const std::string euro = "ab\xe2\x82\xac";
    EXPECT_EQ(Json(std::string_view(euro).substr(0, 4)), R"("ab\ufffd\ufffd")");
    // Overlong forms, a surrogate, past U+10FFFF, bytes that never occur.
    EXPECT_EQ(Json("\xc0\xaf"), R"("\ufffd\ufffd")");
    EXPECT_EQ(Json("\xe0\x80\xaf"), R"("\ufffd\ufffd\ufffd")");
    EXPECT_EQ(Json("\xed\xa0\x80"), R"("\ufffd\ufffd\ufffd")");
    EXPECT_EQ(Json("\xf4\x90\x80\x80"), R"("\ufffd\ufffd\ufffd\ufffd")");
    EXPECT_EQ(Json("\xf5\xfe\xff"), R"("\ufffd\ufffd\ufffd")");
    // A broken sequence does not swallow the valid text after it.
    EXPECT_EQ(Json("\xe2\x82\"x"), R"("\ufffd\ufffd\"x")");
}

TEST(JsonObject, MembersInOrderSeparatedByCommas) {
    EXPECT_EQ(TJsonObjectWriter().Text(), "{}");
    TJsonObjectWriter json;
    json.AddString("a", "x").AddNumber("n", -5).AddNumber("big", 4294967295);
    EXPECT_EQ(json.Text(), R"({"a":"x","n":-5,"big":4294967295})");
}

TEST(Rfc3339Time, MillisecondsAndTheZoneOffset) {
    std::tm local{};
    local.tm_year = 2026 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = 12;
    local.tm_min = 31;
    local.tm_sec = 52;
    EXPECT_EQ(FormatRfc3339(local, 0, 123), "2026-12-07T12:31:52.123+00:00");
    EXPECT_EQ(FormatRfc3339(local, 5 * 3600 + 30 * 60, 7), "2026-12-07T12:31:52.007+05:30");
    EXPECT_EQ(FormatRfc3339(local, -(3 * 3600 + 30 * 60), 999), "2026-12-07T12:31:52.999-03:30");

    // The same local time as the stamp of the log line, with its milliseconds.
    const auto when = testing::LocalTime(2026, 12, 7, 9, 5, 3) + std::chrono::milliseconds(42);
    EXPECT_EQ(Rfc3339Time(when).substr(0, 23), "2026-12-07T09:05:03.042");
}

class LogOutputs : public ::testing::Test {
protected:
    void SetUp() override { std::setlocale(LC_TIME, "C"); }
    std::chrono::system_clock::time_point Now = testing::LocalTime(2026, 12, 7, 9, 5, 3);
    TEventLog Log{[this] { return Now; }};
    const TLogConnection Connection{"TCPv6", "2001:db8::2", 40001, "2001:db8::1", 443, "Established", 42, "we\"b"};
};

TEST_F(LogOutputs, JsonLineWithAndWithoutConnection) {
    Log.AddLog("Auto Save and Clear Log.", lkInfo);
    Log.AddLog("we\"b Connected to host On Port:443", lkConnect, Connection);
    const std::string time = Rfc3339Time(Now);
    EXPECT_EQ(LogEntryJson(Log.Entry(0)),
              R"({"time":")" + time + R"(","kind":0,"text":"Auto Save and Clear Log."})");
    EXPECT_EQ(LogEntryJson(Log.Entry(1)),
              R"({"time":")" + time + R"(","kind":2,"text":"we\"b Connected to host On Port:443",)"
              R"("protocol":"TCPv6","local_address":"2001:db8::2","local_port":40001,)"
              R"("remote_address":"2001:db8::1","remote_port":443,"state":"Established","pid":42,"process":"we\"b"})");

    TLogConnection ownerless = Connection;
    ownerless.Pid.reset();
    ownerless.Process.clear();
    Log.AddLog("gone", lkDisconnect, ownerless);
    EXPECT_EQ(LogEntryJson(Log.Entry(2)).find("pid"), std::string::npos);
}

TEST_F(LogOutputs, TheRemoteLocationAddsWhatTheDatabaseKnows) {
    TLogConnection located = Connection;
    located.RemoteLocation = InternLocation({"DE", "Germany", 3320, "Deutsche \"T\""});
    Log.AddLog("located", lkConnect, located);
    located.RemoteLocation = InternLocation({"DE", "Germany", 0, ""});
    Log.AddLog("country only", lkConnect, located);
    const std::string json = LogEntryJson(Log.Entry(0));
    EXPECT_TRUE(json.ends_with(R"("process":"we\"b","remote_country":"DE","remote_asn":3320,"remote_as_name":"Deutsche \"T\""})"))
        << json;
    EXPECT_TRUE(LogEntryJson(Log.Entry(1)).ends_with(R"("remote_country":"DE"})"));
    const std::vector<TJournalField> fields = LogEntryJournalFields(Log.Entry(0));
    EXPECT_EQ(std::vector<TJournalField>(fields.end() - 3, fields.end()),
              (std::vector<TJournalField>{{"TARNWICK_REMOTE_COUNTRY", "DE"},
                                          {"TARNWICK_REMOTE_ASN", "3320"},
                                          {"TARNWICK_REMOTE_AS_NAME", "Deutsche \"T\""}}));
}

TEST_F(LogOutputs, JournalFieldsAndPriorities) {
    Log.AddLog("Enabled Rules:r,Kill the Connection!", lkRule, Connection);
    const std::vector<TJournalField> fields = LogEntryJournalFields(Log.Entry(0));
    EXPECT_EQ(fields, (std::vector<TJournalField>{{"MESSAGE", "Enabled Rules:r,Kill the Connection!"},
                                                  {"PRIORITY", "5"},
                                                  {"SYSLOG_IDENTIFIER", "tarnwick"},
                                                  {"TARNWICK_KIND", "1"},
                                                  {"TARNWICK_PROTOCOL", "TCPv6"},
                                                  {"TARNWICK_LOCAL_ADDRESS", "2001:db8::2"},
                                                  {"TARNWICK_LOCAL_PORT", "40001"},
                                                  {"TARNWICK_REMOTE_ADDRESS", "2001:db8::1"},
                                                  {"TARNWICK_REMOTE_PORT", "443"},
                                                  {"TARNWICK_STATE", "Established"},
                                                  {"TARNWICK_PID", "42"},
                                                  {"TARNWICK_PROCESS", "we\"b"}}));
    for (LogKind kind : {lkInfo, lkConnect, lkDisconnect}) EXPECT_EQ(JournalPriority(kind), 6);
    Log.AddLog("note", lkInfo);
    EXPECT_EQ(LogEntryJournalFields(Log.Entry(1)).size(), 4u);  // no connection, no connection fields
}

}  // namespace
}  // namespace tarnwick
