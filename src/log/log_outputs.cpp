#include "log/log_outputs.h"

#include "log/json_writer.h"
#include "log/time_stamp.h"

namespace tarnwick {

std::string LogEntryJson(const TLogEntry& entry) {
    TJsonObjectWriter json;
    json.AddString("time", Rfc3339Time(entry.Time)).AddNumber("kind", entry.Kind).AddString("text", entry.Text());
    if (const auto& c = entry.Connection) {
        json.AddString("protocol", c->Protocol)
            .AddString("local_address", c->LocalAddress)
            .AddNumber("local_port", c->LocalPort)
            .AddString("remote_address", c->RemoteAddress)
            .AddNumber("remote_port", c->RemotePort)
            .AddString("state", c->State);
        if (c->Pid) json.AddNumber("pid", *c->Pid).AddString("process", c->Process);
        if (c->BytesSent && c->BytesReceived)
            json.AddNumber("bytes_sent", static_cast<int64_t>(*c->BytesSent))
                .AddNumber("bytes_received", static_cast<int64_t>(*c->BytesReceived));
        if (const auto& where = c->RemoteLocation) {
            if (!where->CountryCode.empty()) json.AddString("remote_country", where->CountryCode);
            if (where->Asn != 0) json.AddNumber("remote_asn", static_cast<int64_t>(where->Asn));
            if (!where->AsName.empty()) json.AddString("remote_as_name", where->AsName);
        }
    }
    return json.Text();
}

int JournalPriority(LogKind kind) {
    // syslog(3) levels: LOG_NOTICE is 5, LOG_INFO 6.
    return kind == lkRule ? 5 : 6;
}

std::vector<TJournalField> LogEntryJournalFields(const TLogEntry& entry) {
    std::vector<TJournalField> fields{{"MESSAGE", std::string(entry.Text())},
                                      {"PRIORITY", std::to_string(JournalPriority(entry.Kind))},
                                      {"SYSLOG_IDENTIFIER", "tarnwick"},
                                      {"TARNWICK_KIND", std::to_string(entry.Kind)}};
    if (const auto& c = entry.Connection) {
        fields.insert(fields.end(), {{"TARNWICK_PROTOCOL", c->Protocol},
                                     {"TARNWICK_LOCAL_ADDRESS", c->LocalAddress},
                                     {"TARNWICK_LOCAL_PORT", std::to_string(c->LocalPort)},
                                     {"TARNWICK_REMOTE_ADDRESS", c->RemoteAddress},
                                     {"TARNWICK_REMOTE_PORT", std::to_string(c->RemotePort)},
                                     {"TARNWICK_STATE", c->State}});
        if (c->Pid)
            fields.insert(fields.end(),
                          {{"TARNWICK_PID", std::to_string(*c->Pid)}, {"TARNWICK_PROCESS", c->Process}});
        if (const auto& where = c->RemoteLocation) {
            if (!where->CountryCode.empty()) fields.push_back({"TARNWICK_REMOTE_COUNTRY", where->CountryCode});
            if (where->Asn != 0) fields.push_back({"TARNWICK_REMOTE_ASN", std::to_string(where->Asn)});
            if (!where->AsName.empty()) fields.push_back({"TARNWICK_REMOTE_AS_NAME", where->AsName});
        }
    }
    return fields;
}

}  // namespace tarnwick
