#include "driver/json_lines.h"

#include <cstdio>

#include "driver/outputs.h"
#include "driver/text_lines.h"

namespace vexmo {
namespace {

bool is_continuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The length of the valid UTF-8 sequence of two bytes or more that starts at
// p, or 0 (RFC 3629: no overlong forms, no surrogates, nothing above
// U+10FFFF). The text ends with a 0 byte, which is no continuation byte, so
// no read passes it.
std::size_t utf8_sequence_length(const unsigned char* p) {
  const unsigned char lead = p[0];
  unsigned char second_low = 0x80;
  unsigned char second_high = 0xBF;
  std::size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    second_low = lead == 0xE0 ? 0xA0 : 0x80;
    second_high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    second_low = lead == 0xF0 ? 0x90 : 0x80;
    second_high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (p[1] < second_low || p[1] > second_high) {
    return 0;
  }
  for (std::size_t i = 2; i < length; ++i) {
    if (!is_continuation(p[i])) {
      return 0;
    }
  }
  return length;
}

// Builds one object: {"key":value,...}.
class JsonObject {
 public:
  JsonObject(const char* event, std::int64_t unix_ms) : unix_ms_(unix_ms) {
    text_ = "{";
    add_string("event", event);
  }
  void add_raw(const char* key, const std::string& value) {
    open_field(key);
    text_ += value;
  }
  void add_number(const char* key, std::uint32_t value) {
    add_raw(key, std::to_string(value));
  }
  void add_number(const char* key, const std::optional<std::uint32_t>& value) {
    add_raw(key, value ? std::to_string(*value) : std::string("null"));
  }
  void add_bool(const char* key, bool value) {
    add_raw(key, value ? "true" : "false");
  }
  void add_string(const char* key, const std::string& value) {
    add_string(key, value.c_str());
  }
  void add_string(const char* key, const char* value) {
    open_field(key);
    append_json_string(&text_, value);
  }
  void add_string(const char* key, const std::optional<std::string>& value) {
    if (value) {
      add_string(key, value->c_str());
    } else {
      add_raw(key, "null");
    }
  }
  void add_milliseconds(const char* key, std::uint32_t us) {
    add_raw(key, milliseconds_text(us));
  }
  // The time comes last in every object.
  std::string finish() {
    add_string("time", utc_time_text(unix_ms_).c_str());
    return text_ + "}";
  }

 private:
  void open_field(const char* key) {
    if (text_.size() > 1) {
      text_ += ',';
    }
    text_ += '"';
    text_ += key;  // our own names: nothing to escape
    text_ += "\":";
  }

  std::string text_;
  std::int64_t unix_ms_;
};

std::string round_trip_object(const StatisticsSummary& summary) {
  if (summary.replies == 0) {
    return "null";
  }
  const struct {
    const char* key;
    std::uint32_t us;
  } figures[] = {
      {"min", summary.min_us},       {"avg", summary.avg_us},       {"max", summary.max_us},
      {"median", summary.median_us}, {"p90", summary.p90_us},       {"p99", summary.p99_us},
      {"stddev", summary.stddev_us}, {"jitter", summary.jitter_us},
  };
  std::string text = "{";
  for (const auto& figure : figures) {
    if (text.size() > 1) {
      text += ',';
    }
    text += '"';
    text += figure.key;
    text += "\":";
    text += milliseconds_text(figure.us);
  }
  return text + "}";
}

}  // namespace

void append_json_string(std::string* out, const char* text) {
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    const unsigned char byte = *p;
    if (byte >= 0x80) {
      const std::size_t length = utf8_sequence_length(p);
      if (length == 0) {
        out->append("\xEF\xBF\xBD");  // U+FFFD for the stray byte
        ++p;
      } else {
        out->append(reinterpret_cast<const char*>(p), length);
        p += length;
      }
      continue;
    }
    switch (byte) {
      case '"':
        out->append("\\\"");
        break;
      case '\\':
        out->append("\\\\");
        break;
      case '\b':
        out->append("\\b");
        break;
      case '\f':
        out->append("\\f");
        break;
      case '\n':
        out->append("\\n");
        break;
      case '\r':
        out->append("\\r");
        break;
      case '\t':
        out->append("\\t");
        break;
      default:
        if (byte < 0x20) {
          out->append("\\u00");
          out->push_back(kHex[byte >> 4]);
          out->push_back(kHex[byte & 0xF]);
        } else {
          out->push_back(static_cast<char>(byte));
        }
        break;
    }
    ++p;
  }
  out->push_back('"');
}

std::string utc_time_text(std::int64_t unix_ms) {
  if (unix_ms < 0) {
    unix_ms = 0;
  }
  const std::int64_t days = unix_ms / 86400000;
  const std::int64_t ms_of_day = unix_ms % 86400000;
  // Days to a civil date in the proleptic Gregorian calendar, counted in
  // 400-year eras that begin on 1 March 0000.
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = shifted / 146097;
  const std::int64_t day_of_era = shifted - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_from_march = (5 * day_of_year + 2) / 153;
  const std::int64_t day = day_of_year - (153 * month_from_march + 2) / 5 + 1;
  const std::int64_t month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  char text[96];
  std::snprintf(
      text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ",
      static_cast<long long>(year), static_cast<long long>(month), static_cast<long long>(day),
      static_cast<long long>(ms_of_day / 3600000), static_cast<long long>(ms_of_day / 60000 % 60),
      static_cast<long long>(ms_of_day / 1000 % 60), static_cast<long long>(ms_of_day % 1000));
  return text;
}

std::string json_start(const StartFacts& facts) {
  JsonObject object("start", facts.unix_ms);
  object.add_string("schema_version", kJsonSchemaVersion);
  object.add_string("host", facts.host);
  object.add_number("family", static_cast<std::uint32_t>(facts.family));
  object.add_number("size", facts.size);
  object.add_number("ip_bytes", facts.ip_bytes);
  object.add_number("count", facts.count);
  object.add_number("timeout_ms", facts.timeout_ms);
  object.add_number("ttl", facts.ttl);
  object.add_number("tos", facts.tos);
  object.add_bool("dont_fragment", facts.dont_fragment);
  return object.finish();
}

std::string json_reply(const ReplyFacts& facts) {
  JsonObject object("reply", facts.unix_ms);
  object.add_number("request", facts.request);
  object.add_string("from", facts.from);
  object.add_number("sequence", facts.sequence);
  object.add_milliseconds("rtt_ms", facts.rtt_us);
  object.add_number("ttl", facts.ttl);
  return object.finish();
}

std::string json_icmp(const IcmpFacts& facts) {
  JsonObject object("icmp", facts.unix_ms);
  object.add_number("request", facts.request);
  object.add_string("from", facts.from);
  object.add_number("type", facts.type);
  object.add_number("code", facts.code);
  object.add_string("kind", facts.kind);
  object.add_string("reason", facts.reason);
  if (facts.gateway) {
    object.add_string("gateway", facts.gateway);
  }
  if (facts.mtu) {
    object.add_number("mtu", facts.mtu);
  }
  return object.finish();
}

std::string json_failure(const FailureFacts& facts) {
  JsonObject object("failure", facts.unix_ms);
  object.add_number("request", facts.request);
  object.add_number("error", facts.error);
  object.add_string("message", facts.message);
  return object.finish();
}

std::string json_unresolved(const UnresolvedFacts& facts) {
  JsonObject object("unresolved", facts.unix_ms);
  object.add_number("request", facts.request);
  object.add_string("host", facts.host);
  return object.finish();
}

std::string json_summary(const SummaryFacts& facts, SummaryEvent event,
                         const RttBucketCounts* histogram) {
  const StatisticsSummary& summary = facts.figures;
  JsonObject object(event == SummaryEvent::interim ? "interim" : "summary", facts.unix_ms);
  object.add_number("sent", summary.sent);
  object.add_number("received", summary.received);
  object.add_number("replies", summary.replies);
  object.add_number("errors", summary.errors);
  object.add_number("lost_percent", summary.sent == 0 ? std::nullopt
                                                      : std::optional<std::uint32_t>(lost_percent(
                                                            summary.sent, summary.received)));
  object.add_raw("rtt_ms", round_trip_object(summary));
  object.add_number("longest_loss_streak", summary.longest_loss_streak);
  object.add_bool("interrupted", facts.interrupted);
  if (histogram != nullptr) {
    object.add_raw("histogram", histogram_json(*histogram));
  }
  return object.finish();
}

void JsonLines::start(const StartFacts& facts) {
  write_line(out_, json_start(facts));
}

void JsonLines::reply(const ReplyFacts& facts) {
  count_round_trip(&counts_, facts.rtt_us);
  if (!quiet_) {
    write_line(out_, json_reply(facts));
  }
}

void JsonLines::icmp(const IcmpFacts& facts) {
  if (!quiet_) {
    write_line(out_, json_icmp(facts));
  }
}

void JsonLines::failure(const FailureFacts& facts) {
  if (!quiet_) {
    write_line(out_, json_failure(facts));
  }
}

void JsonLines::unresolved(const UnresolvedFacts& facts) {
  write_line(out_, json_unresolved(facts));
}

void JsonLines::interim(const SummaryFacts& facts) {
  write_line(out_, json_summary(facts, SummaryEvent::interim));
}

void JsonLines::summary(const SummaryFacts& facts) {
  write_line(out_,
             json_summary(facts, SummaryEvent::summary, with_histogram_ ? &counts_ : nullptr));
}

void JsonLines::privileges_kept() {
  // Standard output stays JSON alone.
  write_line(err_, "Can not give up elevated privileges.");
}

}  // namespace vexmo
