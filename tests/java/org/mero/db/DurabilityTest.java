package org.mero.db;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.mero.db.DatabaseTest.PEOPLE;
import static org.mero.db.DatabaseTest.ROWS;
import static org.mero.db.DatabaseTest.scratch;

import java.io.RandomAccessFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Iterator;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.OptionalInt;
import java.util.concurrent.atomic.AtomicBoolean;
import org.junit.jupiter.api.Test;

/** Sync modes, statistics and what open recovered, through the real library. */
class DurabilityTest {
  // Index entries and the count are little-endian 32-bit integers: the count first.
  static void writeIndexInt(Path base, long offset, int value) throws Exception {
    try (RandomAccessFile index = new RandomAccessFile(base + ".idx", "rw")) {
      index.seek(offset);
      index.write(new byte[] {(byte) value, (byte) (value >> 8), (byte) (value >> 16), (byte) (value >> 24)});
    }
  }

  static int[] appendRows(Database db) {
    int[] at = new int[ROWS.length];
    for (int i = 0; i < ROWS.length; i++) {
      at[i] = db.append(ROWS[i]);
    }
    return at;
  }

  @Test
  void theSyncModeGivenIsTheEnginesAndSyncKeepsEveryChange() throws Exception {
    Path dir = scratch();
    for (SyncMode mode : SyncMode.values()) {
      Path base = dir.resolve(mode.name());
      try (Database db = Database.open(base, "k", true, PEOPLE, OpenOptions.defaults().syncMode(mode))) {
        assertEquals(mode, db.syncMode());
        appendRows(db);
        db.sync();
      }
      try (Database db = Database.open(base, "k", true, OpenOptions.defaults().syncMode(mode))) {
        assertEquals(mode, db.syncMode());
        assertEquals(ROWS.length, db.size());
        assertTrue(db.recovery().isEmpty(), db.recovery().toString());
      }
    }
    try (Database db = Database.open(dir.resolve(SyncMode.OFF.name()), "k", true)) {
      assertEquals(SyncMode.CLOSE, db.syncMode());
    }
  }

  @Test
  void statsCountLiveAndDeadBytesOfTheFiles() throws Exception {
    Path base = scratch().resolve("stats");
    try (Database db = Database.open(base, "k", true, PEOPLE)) {
      Stats empty = db.stats();
      assertEquals(new Stats(0, 0, 0, 0, 0, Files.size(Path.of(base + ".str"))), empty);
      int[] at = appendRows(db);
      Stats whole = db.stats();
      assertEquals(0, whole.deadBytes());
      db.update(at[0], "Ada", "London", "a longer note moves the record").orElseThrow();
      db.delete(at[1]);
      Stats after = db.stats();
      assertEquals(ROWS.length - 1, after.records());
      assertEquals(Files.size(Path.of(base + ".dat")), after.dataFileBytes());
      assertEquals(Files.size(Path.of(base + ".idx")), after.indexFileBytes());
      assertEquals(Files.size(Path.of(base + ".str")), after.schemaFileBytes());
      // The moved record's old image and the deleted one are dead; the rest is live.
      assertEquals(at[2] - at[0], after.deadBytes());
      assertEquals(after.dataFileBytes() - after.deadBytes(), after.liveBytes());
    }
  }

  // Power-cut states, each made by hand on a closed database of the three rows: what the index
  // file then says, what open keeps, and what it reports.
  private record PowerCut(String name, int storedCount, int missing, List<Recovery.Reason> dropped) {}

  @Test
  void openReportsWhatAPowerCutLeftAndRepairsIt() throws Exception {
    PowerCut[] cases = {
      new PowerCut("count past the entries", 5, 2, List.of()),
      new PowerCut("entry of zeros", 4, 0, List.of(Recovery.Reason.ZERO_FILLED_ENTRY)),
      new PowerCut("entry past the data", 4, 0, List.of(Recovery.Reason.PAST_DATA_END)),
    };
    for (PowerCut cut : cases) {
      Path base = scratch().resolve("cut");
      try (Database db = Database.open(base, "k", true, PEOPLE)) {
        appendRows(db);
      }
      long dataSize = Files.size(Path.of(base + ".dat"));
      writeIndexInt(base, 0, cut.storedCount);
      if (!cut.dropped.isEmpty()) {
        int entry = cut.dropped.get(0) == Recovery.Reason.ZERO_FILLED_ENTRY ? 0 : (int) dataSize + 8;
        writeIndexInt(base, 4 + 4L * ROWS.length, entry);
      }
      try (Database db = Database.open(base, "k", true)) {
        Recovery recovery = db.recovery();
        assertFalse(recovery.isEmpty(), cut.name);
        assertEquals(cut.storedCount, recovery.storedCount(), cut.name);
        assertEquals(cut.missing, recovery.missingEntries(), cut.name);
        assertEquals(cut.dropped, recovery.dropped().stream().map(Recovery.Dropped::reason).toList(), cut.name);
        for (Recovery.Dropped dropped : recovery.dropped()) {
          assertEquals(ROWS.length, dropped.recordNumber(), cut.name);
        }
        assertEquals(ROWS.length, recovery.keptCount(), cut.name);
        assertTrue(recovery.summary().startsWith(ROWS.length + " of " + cut.storedCount + " records kept"),
            recovery.summary());
        assertEquals(ROWS.length, db.size(), cut.name);
      }
      try (Database db = Database.open(base, "k", true)) {
        assertTrue(db.recovery().isEmpty(), cut.name + ": the repair stands");
      }
    }
  }
  @Test
  void compactGivesBackDeadBytesAndSaysWhereEachRecordWent() throws Exception {
    Path base = scratch().resolve("compact");
    try (Database db = Database.open(base, "k", true, PEOPLE)) {
      int[] at = appendRows(db);
      db.update(at[1], ROWS[1][0], ROWS[1][1], "a longer note moves the record").orElseThrow();
      db.delete(at[0]);
      db.append("Grace", "Arlington", "compilers");
      List<Record> before = db.records().toList();
      int[] positionsBefore = db.find(Query.all());
      Stats stats = db.stats();

      Map<Integer, Integer> moves = db.compact();

      assertEquals(List.of(Arrays.stream(positionsBefore).boxed().toArray()), List.copyOf(moves.keySet()));
      for (int r = 0; r < positionsBefore.length; r++) {
        assertEquals(Optional.of(before.get(r)), db.get(moves.get(positionsBefore[r])));
      }
      assertEquals(before, db.records().toList());
      assertEquals(OptionalInt.of(moves.get(positionsBefore[0])), db.positionOf(ROWS[1][0]));
      assertEquals(new Stats(stats.records(), stats.liveBytes(), 0, stats.liveBytes(),
          4L + 4L * stats.records(), stats.schemaFileBytes()), db.stats());
      assertThrows(DuplicateKeyException.class, () -> db.append("Grace", "", ""));
      assertEquals(before.size(), db.compact().size(), "a second compact moves nothing");
    }
    try (Database db = Database.open(base, "k", true)) {
      assertEquals(3, db.size());
      assertTrue(db.recovery().isEmpty());
    }
  }

  @Test
  void aStreamRunningAcrossACompactMissesNothing() throws Exception {
    try (Database db = Database.open(scratch().resolve("stream"), "k", true, PEOPLE)) {
      List<String> keys = new ArrayList<>();
      db.batch(b -> {
        for (int i = 0; i < 1200; i++) {
          keys.add(String.format("k%04d", i));
          b.append(keys.get(i), "city", "note");
        }
      });
      // Dead bytes before every record the stream has yet to read.
      for (int i = 0; i < 100; i++) {
        db.delete(db.positionOf(keys.get(i)).orElseThrow());
      }
      List<String> seen = new ArrayList<>();
      Iterator<Record> records = db.records().iterator();
      for (int i = 0; i < 300; i++) {
        seen.add(records.next().get(0));
      }
      db.compact();
      records.forEachRemaining(r -> seen.add(r.get(0)));
      assertEquals(keys.subList(100, keys.size()), seen);
    }
  }
  @Test
  void aBackupTakenWhileAnotherThreadAppendsIsOneMomentAndOpens() throws Exception {
    Path dir = scratch();
    try (Database db = Database.open(dir.resolve("live"), "k", true, PEOPLE)) {
      AtomicBoolean stop = new AtomicBoolean();
      Thread writer = new Thread(() -> {
        for (int i = 0; !stop.get(); i++) {
          db.append("w" + i, "city" + i % 7, "note ".repeat(i % 40));
        }
      });
      writer.start();
      try {
        for (int copy = 0; copy < 5; copy++) {
          Path target = dir.resolve("copy" + copy);
          db.backupTo(target);
          try (Database backup = Database.open(target, "k", true)) {
            assertTrue(backup.recovery().isEmpty(), backup.recovery().summary());
            List<Record> copied = backup.records().toList();
            int[] at = backup.find(Query.all());
            // Every record of the copy reads the same at its position in the original.
            for (int r = 0; r < at.length; r++) {
              assertEquals(Optional.of(copied.get(r)), db.get(at[r]), "copy " + copy + ", record " + r);
            }
            assertEquals(Files.size(Path.of(target + ".dat")), backup.stats().dataFileBytes());
          }
        }
      } finally {
        stop.set(true);
        writer.join();
      }
    }
  }

  @Test
  void aBackupNeverOverwritesADatabaseNorItsSource() throws Exception {
    Path dir = scratch();
    Path other = dir.resolve("other");
    try (Database existing = Database.open(other, "k", true, PEOPLE)) {
      existing.append(ROWS[0]);
    }
    Path folderLink = Files.createSymbolicLink(dir.resolve("link"), dir);
    try (Database db = Database.open(dir.resolve("db"), "k", true, PEOPLE)) {
      appendRows(db);
      for (Path target : List.of(other, dir.resolve("db"), folderLink.resolve("db"))) {
        byte[] before = Files.readAllBytes(Path.of(target + ".dat"));
        assertThrows(IllegalArgumentException.class, () -> db.backupTo(target), target.toString());
        assertArrayEquals(before, Files.readAllBytes(Path.of(target + ".dat")), target.toString());
      }
      Files.writeString(dir.resolve("half.idx"), "");
      assertThrows(IllegalArgumentException.class, () -> db.backupTo(dir.resolve("half")));
      assertFalse(Files.exists(dir.resolve("half.str")));
      assertThrows(DatabaseException.class, () -> db.backupTo(dir.resolve("no folder").resolve("db")));
      assertEquals(ROWS.length, db.size());
    }
  }
}
