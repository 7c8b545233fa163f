// A log entry in the forms that log pipelines read: a JSON line and the
// fields of a journal entry. Both carry the same values: the entry's kind and
// message, and the fields of the connection it is about, if any.
#pragma once

#include <string>
#include <vector>

#include "log/event_log.h"
#include "platform/event_journal.h"

namespace tarnwick {

// The entry as one JSON object without a line end. Members, in this order:
//   time            RFC 3339 with milliseconds and the local zone's offset
//   kind            the LogKind number, 0..3
//   text            the message, without the time stamp
// and for an entry about a connection:
//   protocol        TCP, UDP, TCPv6 or UDPv6
//   local_address, remote_address   numeric (dotted IPv4, RFC 5952 IPv6)
//   local_port, remote_port         numbers
//   state           the state's name, as the grid shows it
//   pid, process    only when the owning process is known
//   bytes_sent, bytes_received      only when the counters are known
//   remote_country, remote_asn, remote_as_name   each only when the location
//                   of the remote address is looked up and the database knows it
std::string LogEntryJson(const TLogEntry& entry);

// The journal's priority (syslog levels) of each kind. Rule lines are notices:
// a rule the user wrote matched and acted. Everything else is information:
// connections coming and going are the normal course of a machine.
int JournalPriority(LogKind kind);

// The entry as journal fields: MESSAGE (the message), PRIORITY,
// SYSLOG_IDENTIFIER=tarnwick, TARNWICK_KIND, and for an entry about a
// connection TARNWICK_PROTOCOL, TARNWICK_LOCAL_ADDRESS, TARNWICK_LOCAL_PORT,
// TARNWICK_REMOTE_ADDRESS, TARNWICK_REMOTE_PORT, TARNWICK_STATE, and with
// a known owner TARNWICK_PID and TARNWICK_PROCESS, and where the location is
// known TARNWICK_REMOTE_COUNTRY, TARNWICK_REMOTE_ASN and
// TARNWICK_REMOTE_AS_NAME. The journal stamps the entry
// with its own time.
std::vector<TJournalField> LogEntryJournalFields(const TLogEntry& entry);

}  // namespace tarnwick
