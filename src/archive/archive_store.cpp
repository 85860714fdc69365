#include "archive/archive_store.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <pqxx/pqxx>
#include <tuple>
#include <vector>

namespace orvexa::archive {
namespace {

constexpr int64_t kDay = 86400;
// Day partitions cover 2000 to 2100; a time outside (a server with its clock far off)
// goes to the default partition rather than creating partitions without end.
constexpr int64_t kFirstPartitionedDay = 10957;  // 2000-01-01
constexpr int64_t kEndPartitionedDay = 47482;    // 2100-01-01

// Each step moves the schema one version up; the index is the version it reaches - 1.
constexpr std::array<const char*, ArchiveStore::kSchemaVersion> kMigrations = {
    R"sql(
CREATE TABLE archive_channel (
  id serial PRIMARY KEY,
  lab text NOT NULL,
  channel_id text NOT NULL,
  UNIQUE (lab, channel_id));
CREATE TABLE archive_cursor (
  channel int PRIMARY KEY REFERENCES archive_channel (id),
  seq bigint NOT NULL,
  last_time bigint NOT NULL);
CREATE TABLE sample_raw (
  channel int NOT NULL,
  t timestamptz NOT NULL,
  seq bigint NOT NULL,
  raw int NOT NULL,
  PRIMARY KEY (channel, t, seq)) PARTITION BY RANGE (t);
CREATE TABLE sample_raw_other PARTITION OF sample_raw DEFAULT;
CREATE VIEW sample AS
  SELECT c.lab, c.channel_id, s.t AS time, s.raw::float8 / 256 AS value
  FROM sample_raw s JOIN archive_channel c ON c.id = s.channel;
)sql",
    // Older days packed per channel and hour: the offsets of the records into the hour
    // and their values, in log order; the view shows both forms.
    R"sql(
CREATE TABLE sample_hour (
  channel int NOT NULL REFERENCES archive_channel (id),
  hour timestamptz NOT NULL,
  first_seq bigint NOT NULL,
  t_off smallint[] NOT NULL,
  raw int[] NOT NULL,
  PRIMARY KEY (channel, hour, first_seq));
CREATE TABLE archive_packed_day (day bigint PRIMARY KEY);
CREATE OR REPLACE VIEW sample AS
  SELECT c.lab, c.channel_id, s.t AS time, s.raw::float8 / 256 AS value
  FROM sample_raw s JOIN archive_channel c ON c.id = s.channel
  UNION ALL
  SELECT c.lab, c.channel_id, h.hour + u.off * interval '1 second', u.raw::float8 / 256
  FROM sample_hour h JOIN archive_channel c ON c.id = h.channel
  CROSS JOIN LATERAL unnest(h.t_off, h.raw) AS u (off, raw);
)sql",
    // Finished experiments and bursts. A sample's t_rel is its time since the
    // experiment's start as the server sends it: 10 us ticks for a recording, the
    // plug-in's own unit for a burst.
    R"sql(
CREATE TABLE archive_experiment (
  key serial PRIMARY KEY,
  lab text NOT NULL,
  id bigint NOT NULL,
  owner_key bigint NOT NULL,
  burst boolean NOT NULL,
  start_time timestamptz NOT NULL,
  stop_time timestamptz NOT NULL,
  client_address inet NOT NULL,
  UNIQUE (lab, id, start_time));
CREATE TABLE archive_experiment_channel (
  experiment int NOT NULL REFERENCES archive_experiment (key),
  channel_id text NOT NULL,
  stored bigint NOT NULL,
  PRIMARY KEY (experiment, channel_id));
CREATE TABLE experiment_sample (
  experiment int NOT NULL,
  channel_id text NOT NULL,
  seq bigint NOT NULL,
  t_rel bigint NOT NULL,
  value real NOT NULL,
  PRIMARY KEY (experiment, channel_id, seq),
  FOREIGN KEY (experiment, channel_id) REFERENCES archive_experiment_channel);
)sql",
    // One channel over a time span, rows and packed hours alike. Unlike a condition on
    // the view's time, which reaches packed hours only after unnesting every hour of the
    // channel, the span here picks the packed hours first (a day: 24 rows), and only an
    // hour the span cuts has its records tested one by one.
    R"sql(
CREATE FUNCTION sample_between(lab text, channel_id text, t0 timestamptz, t1 timestamptz)
RETURNS TABLE ("time" timestamptz, value float8) LANGUAGE sql STABLE AS $$
  SELECT s.t, s.raw::float8 / 256 FROM sample_raw s
  WHERE s.channel = (SELECT c.id FROM archive_channel c WHERE c.lab = $1 AND c.channel_id = $2)
    AND s.t >= $3 AND s.t < $4
  UNION ALL
  SELECT h.hour + u.off * interval '1 second', u.raw::float8 / 256
  FROM sample_hour h CROSS JOIN LATERAL unnest(h.t_off, h.raw) AS u (off, raw)
  WHERE h.channel = (SELECT c.id FROM archive_channel c WHERE c.lab = $1 AND c.channel_id = $2)
    AND h.hour >= date_trunc('hour', $3) AND h.hour < $4
    AND ((h.hour >= $3 AND h.hour + interval '1 hour' <= $4)
         OR (h.hour + u.off * interval '1 second' >= $3
             AND h.hour + u.off * interval '1 second' < $4))
$$;
)sql",
    // The same span three times faster on packed hours: an hour wholly inside the span
    // gives every record untested; only the (at most two) hours the span cuts test each
    // record's time. Unnesting in the select list streams the arrays, where unnest in
    // FROM first copies each hour into a tuple store. An hour is taken when it starts
    // less than an hour before t0, whatever the session's time zone, where date_trunc
    // would cut in the session's zone.
    R"sql(
CREATE OR REPLACE FUNCTION sample_between(lab text, channel_id text, t0 timestamptz,
                                          t1 timestamptz)
RETURNS TABLE ("time" timestamptz, value float8) LANGUAGE sql STABLE AS $$
  SELECT s.t, s.raw::float8 / 256 FROM sample_raw s
  WHERE s.channel = (SELECT c.id FROM archive_channel c WHERE c.lab = $1 AND c.channel_id = $2)
    AND s.t >= $3 AND s.t < $4
  UNION ALL
  SELECT p.hour + p.off * interval '1 second', p.raw::float8 / 256
  FROM (SELECT h.hour, unnest(h.t_off) AS off, unnest(h.raw) AS raw FROM sample_hour h
        WHERE h.channel = (SELECT c.id FROM archive_channel c
                           WHERE c.lab = $1 AND c.channel_id = $2)
          AND h.hour >= $3 AND h.hour < $4 AND h.hour + interval '1 hour' <= $4) p
  UNION ALL
  SELECT p.t, p.raw::float8 / 256
  FROM (SELECT h.hour + unnest(h.t_off) * interval '1 second' AS t, unnest(h.raw) AS raw
        FROM sample_hour h
        WHERE h.channel = (SELECT c.id FROM archive_channel c
                           WHERE c.lab = $1 AND c.channel_id = $2)
          AND h.hour > $3 - interval '1 hour' AND h.hour < $4
          AND (h.hour < $3 OR h.hour + interval '1 hour' > $4)) p
  WHERE p.t >= $3 AND p.t < $4
$$;
)sql"};

// Moves the rows of `from` (a day partition, or the default partition with a time
// condition) into packed hours.
std::string PackRows(const std::string& from, const std::string& condition) {
  return "INSERT INTO sample_hour SELECT channel, date_trunc('hour', t), min(seq), "
         "array_agg(extract(epoch FROM t - date_trunc('hour', t))::smallint ORDER BY seq), "
         "array_agg(raw ORDER BY seq) FROM " +
         from + condition + " GROUP BY channel, date_trunc('hour', t) ON CONFLICT DO NOTHING";
}

int64_t FloorDiv(int64_t a, int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// Civil date of a day number since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int* y, unsigned* m, unsigned* d) {
  z += 719468;
  const int64_t era = FloorDiv(z, 146097);
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

std::string DayText(int64_t day) {
  int y;
  unsigned m, d;
  CivilFromDays(day, &y, &m, &d);
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02u%02u", y, m, d);
  return text;
}

}  // namespace

std::string UtcTimestampText(int64_t seconds) {
  int64_t day = FloorDiv(seconds, kDay);
  int64_t second = seconds - day * kDay;
  int y;
  unsigned m, d;
  CivilFromDays(day, &y, &m, &d);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d+00", y, m, d,
                static_cast<int>(second / 3600), static_cast<int>(second / 60 % 60),
                static_cast<int>(second % 60));
  return text;
}

struct ArchiveStore::Connection {
  explicit Connection(const std::string& text) : db(text) {}
  pqxx::connection db;
};

ArchiveStore::ArchiveStore(const std::string& connection)
    : connection_(std::make_unique<Connection>(connection)) {
  Migrate();
}

ArchiveStore::~ArchiveStore() = default;

void ArchiveStore::Migrate() {
  pqxx::work w(connection_->db);
  w.exec0("CREATE TABLE IF NOT EXISTS archive_schema (version int NOT NULL)");
  // Two archivers starting together migrate one after the other.
  w.exec0("LOCK TABLE archive_schema IN EXCLUSIVE MODE");
  pqxx::result r = w.exec("SELECT version FROM archive_schema");
  int version = 0;
  if (r.empty())
    w.exec0("INSERT INTO archive_schema VALUES (0)");
  else
    version = r[0][0].as<int>();
  if (version > kSchemaVersion)
    throw std::runtime_error("the archive's schema is version " + std::to_string(version) +
                             ", newer than this archiver's " + std::to_string(kSchemaVersion));
  for (; version < kSchemaVersion; ++version) w.exec0(kMigrations[version]);
  w.exec_params0("UPDATE archive_schema SET version = $1", kSchemaVersion);
  w.commit();
}

int ArchiveStore::ChannelKey(const std::string& lab, const std::string& channelId) {
  pqxx::work w(connection_->db);
  w.exec_params0(
      "INSERT INTO archive_channel (lab, channel_id) VALUES ($1, $2) ON CONFLICT DO NOTHING", lab,
      channelId);
  int key = w.exec_params1("SELECT id FROM archive_channel WHERE lab = $1 AND channel_id = $2", lab,
                           channelId)[0]
                .as<int>();
  w.exec_params0(
      "INSERT INTO archive_cursor (channel, seq, last_time) VALUES ($1, 0, 0) "
      "ON CONFLICT DO NOTHING",
      key);
  w.commit();
  return key;
}

ChannelCursor ArchiveStore::Cursor(int channel) {
  pqxx::read_transaction w(connection_->db);
  pqxx::row row =
      w.exec_params1("SELECT seq, last_time FROM archive_cursor WHERE channel = $1", channel);
  return {row[0].as<int64_t>(), static_cast<uint32_t>(row[1].as<int64_t>())};
}

LogRecords ArchiveStore::Tail(int channel, const ChannelCursor& cursor, uint32_t start,
                              size_t limit) {
  pqxx::read_transaction w(connection_->db);
  pqxx::result r = w.exec_params(
      "SELECT seq, extract(epoch FROM t)::bigint, raw FROM sample_raw "
      "WHERE channel = $1 AND t >= to_timestamp($2) AND seq <= $3 "
      "ORDER BY seq DESC LIMIT $4",
      channel, static_cast<int64_t>(start), cursor.seq, static_cast<int64_t>(limit) + 1);
  // The run ends (going back) at the first seq missing from the rows: that record is
  // older than `start`.
  LogRecords tail;
  int64_t expected = cursor.seq;
  for (const auto& row : r) {
    if (row[0].as<int64_t>() != expected) break;
    tail.push_back({static_cast<uint32_t>(row[1].as<int64_t>()), row[2].as<int32_t>()});
    --expected;
  }
  return {tail.rbegin(), tail.rend()};
}

void ArchiveStore::EnsureDayPartitions(const LogRecords& records) {
  std::set<int64_t> missing;
  for (const auto& r : records) {
    int64_t day = r.time / kDay;
    if (day >= kFirstPartitionedDay && day < kEndPartitionedDay && !knownDays_.count(day))
      missing.insert(day);
  }
  for (int64_t day : missing) {
    // Its own short transaction: creating a partition locks the parent table.
    pqxx::work w(connection_->db);
    // A day already packed gets no new partition: late records of it wait in the
    // default partition for the next packing.
    if (!w.exec_params("SELECT 1 FROM archive_packed_day WHERE day = $1", day).empty()) {
      knownDays_.insert(day);
      continue;
    }
    w.exec0("CREATE TABLE IF NOT EXISTS sample_raw_" + DayText(day) +
            " PARTITION OF sample_raw FOR VALUES FROM ('" + UtcTimestampText(day * kDay) +
            "') TO ('" + UtcTimestampText((day + 1) * kDay) + "')");
    w.commit();
    knownDays_.insert(day);
  }
}

ChannelCursor ArchiveStore::Append(int channel, const ChannelCursor& cursor,
                                   const LogRecords& records) {
  if (records.empty()) return cursor;
  EnsureDayPartitions(records);
  ChannelCursor next{cursor.seq + static_cast<int64_t>(records.size()), records.back().time};
  pqxx::work w(connection_->db);
  pqxx::result moved = w.exec_params(
      "UPDATE archive_cursor SET seq = $1, last_time = $2 WHERE channel = $3 AND seq = $4",
      next.seq, static_cast<int64_t>(next.lastTime), channel, cursor.seq);
  if (moved.affected_rows() != 1)
    throw std::runtime_error(
        "the channel's cursor moved under this archiver (is another "
        "archiver writing the same lab?)");
  {
    pqxx::stream_to copy(w, "sample_raw", std::vector<std::string>{"channel", "t", "seq", "raw"});
    int64_t seq = cursor.seq;
    uint32_t formattedTime = 0;
    std::string timeText;
    for (const auto& r : records) {
      if (timeText.empty() || r.time != formattedTime) {
        timeText = UtcTimestampText(r.time);
        formattedTime = r.time;
      }
      copy << std::make_tuple(channel, timeText, ++seq, r.raw);
    }
    copy.complete();
  }
  w.commit();
  return next;
}

int ArchiveStore::PackOldDays(int64_t now, int keepRawDays) {
  int packed = 0;
  // A day goes when it is older than the raw days kept and older than every channel's
  // newest record, which the next read must still find as rows.
  int64_t lastDay = FloorDiv(now, kDay) - keepRawDays;
  {
    pqxx::read_transaction w(connection_->db);
    pqxx::row oldest = w.exec1("SELECT min(last_time) FROM archive_cursor WHERE seq > 0");
    if (!oldest[0].is_null()) lastDay = std::min(lastDay, FloorDiv(oldest[0].as<int64_t>(), kDay));
  }
  std::vector<int64_t> days;
  {
    pqxx::read_transaction w(connection_->db);
    for (const auto& row :
         w.exec("SELECT substr(c.relname, 12) FROM pg_inherits i JOIN pg_class c ON c.oid = "
                "i.inhrelid WHERE i.inhparent = 'sample_raw'::regclass AND c.relname ~ "
                "'^sample_raw_[0-9]{8}$' ORDER BY 1")) {
      std::string text = row[0].as<std::string>();
      int64_t day =
          w.exec_params1("SELECT ($1::date - date '1970-01-01')::bigint", text)[0].as<int64_t>();
      if (day < lastDay) days.push_back(day);
    }
  }
  for (int64_t day : days) {
    // Packing, dropping and marking the day are one transaction: a crash leaves the day
    // as it was, and a second run finds nothing left to do.
    pqxx::work w(connection_->db);
    const std::string table = "sample_raw_" + DayText(day);
    w.exec0(PackRows(table, ""));
    w.exec0("DROP TABLE " + table);
    w.exec_params0("INSERT INTO archive_packed_day VALUES ($1) ON CONFLICT DO NOTHING", day);
    w.commit();
    knownDays_.erase(day);
    ++packed;
  }
  // Late records of packed days, kept in the default partition meanwhile.
  pqxx::work w(connection_->db);
  const std::string late = " WHERE t < to_timestamp(" + std::to_string(lastDay * kDay) +
                           ") AND (extract(epoch FROM t)::bigint / 86400) IN "
                           "(SELECT day FROM archive_packed_day)";
  w.exec0(PackRows("sample_raw_other", late));
  w.exec0("DELETE FROM sample_raw_other" + late);
  w.commit();
  return packed;
}

namespace {

std::string AddressText(const std::array<uint8_t, 4>& address) {
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." +
         std::to_string(address[2]) + "." + std::to_string(address[3]);
}

}  // namespace

bool ArchiveStore::HasExperiment(const std::string& lab, const LabExperiment& e) {
  pqxx::read_transaction w(connection_->db);
  return !w.exec_params(
               "SELECT 1 FROM archive_experiment WHERE lab = $1 AND id = $2 AND "
               "start_time = to_timestamp($3)",
               lab, static_cast<int64_t>(e.id), static_cast<int64_t>(e.startTime))
              .empty();
}

bool ArchiveStore::AddExperiment(const std::string& lab, const LabExperiment& e,
                                 const std::vector<ExperimentChannelSamples>& channels) {
  pqxx::work w(connection_->db);
  // A second archiver storing the same experiment waits here for the first one's
  // commit, then finds it there.
  pqxx::result added = w.exec_params(
      "INSERT INTO archive_experiment (lab, id, owner_key, burst, start_time, stop_time, "
      "client_address) VALUES ($1, $2, $3, $4, to_timestamp($5), to_timestamp($6), $7) "
      "ON CONFLICT DO NOTHING RETURNING key",
      lab, static_cast<int64_t>(e.id), static_cast<int64_t>(e.ownerKey), e.burst,
      static_cast<int64_t>(e.startTime), static_cast<int64_t>(e.stopTime),
      AddressText(e.clientAddress));
  if (added.empty()) return false;
  const int key = added[0][0].as<int>();
  for (const auto& c : channels)
    w.exec_params0(
        "INSERT INTO archive_experiment_channel (experiment, channel_id, stored) "
        "VALUES ($1, $2, $3)",
        key, c.channelId, static_cast<int64_t>(c.stored));
  {
    pqxx::stream_to copy(
        w, "experiment_sample",
        std::vector<std::string>{"experiment", "channel_id", "seq", "t_rel", "value"});
    for (const auto& c : channels)
      for (const auto& s : c.samples)
        copy << std::make_tuple(key, c.channelId, static_cast<int64_t>(s.sequence),
                                static_cast<int64_t>(s.time), s.value);
    copy.complete();
  }
  w.commit();
  return true;
}

}  // namespace orvexa::archive
