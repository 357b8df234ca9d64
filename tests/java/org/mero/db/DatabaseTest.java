package org.mero.db;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.RandomAccessFile;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.ArrayList;
import java.util.List;
import java.util.HashSet;
import java.util.Map;
import java.util.Set;
import java.util.concurrent.atomic.AtomicBoolean;
import java.util.stream.Stream;
import java.util.Optional;
import java.util.OptionalInt;
import java.util.concurrent.ConcurrentHashMap;
import java.util.function.Consumer;
import org.junit.jupiter.api.Test;

/** The packaged API through the real library: records, queries, failures, threads. */
class DatabaseTest {
  static final Schema PEOPLE =
      Schema.builder().field("name", true).field("city", true).field("note", false).build();
  // Values whose modified UTF-8 takes 2 and 3 bytes per char (U+0000, é, €, a surrogate pair):
  // the position of each later append depends on counting them right.
  static final String[][] ROWS = {
    {"Ada", "London", "first programmer"},
    {"Zo\u00eb\u0000", "Z\u00fcrich \u20ac", "\uD83D\uDE00"},
    {"Alan", "london", ""},
  };

  static Path scratch() throws Exception {
    String root = System.getenv("MERO_TEST_TMP");
    Path base = Path.of(root != null ? root : System.getProperty("java.io.tmpdir"));
    Files.createDirectories(base);
    return Files.createTempDirectory(base, "api");
  }

  private static int[] appendAll(Database db) {
    int[] positions = new int[ROWS.length];
    for (int i = 0; i < ROWS.length; i++) {
      positions[i] = db.append(ROWS[i]);
      assertEquals(List.of(ROWS[i]), db.get(positions[i]).orElseThrow().values());
    }
    return positions;
  }

  @Test
  void recordsLiveThroughUpdatesDeletesAndReopening() throws Exception {
    for (boolean keyIndex : new boolean[] {true, false}) {
      Path base = scratch().resolve("people");
      int[] at;
      int moved;
      Database db = Database.open(base, "key", keyIndex, PEOPLE);
      {
        at = appendAll(db);
        assertEquals(3, db.size());
        Record ada = db.get(at[0]).orElseThrow();
        assertEquals("London", ada.get("city"));
        assertEquals("London", ada.get(1));
        if (keyIndex) {
          assertEquals(Optional.of(ada), db.get("Ada"));
          assertEquals(OptionalInt.of(at[2]), db.positionOf("Alan"));
        } else {
          assertThrows(IllegalStateException.class, () -> db.get("Ada"));
          assertThrows(IllegalStateException.class, () -> db.positionOf("Alan"));
        }

        assertEquals(OptionalInt.of(at[0]), db.update(at[0], "Ada", "Paris", "first"));
        moved = db.update(at[0], "Ada", "Paris", "a much longer note than before").orElseThrow();
        assertNotEquals(at[0], moved);
        assertEquals(Optional.empty(), db.get(at[0]));
        assertEquals("a much longer note than before", db.get(moved).orElseThrow().get("note"));
        assertEquals(OptionalInt.empty(), db.update(at[0], "Ada", "", ""));
        if (keyIndex) {
          assertEquals(OptionalInt.of(moved), db.positionOf("Ada"));
        }

        assertTrue(db.delete(at[2]));
        assertFalse(db.delete(at[2]));
        assertEquals(Optional.empty(), db.get(at[2]));
        assertEquals(Optional.empty(), db.get(-1));
        assertEquals(2, db.size());
        db.close();
        List<Consumer<Database>> calls = List.of(d -> d.append("a", "b", "c"), d -> d.get(moved), d -> d.get("Ada"),
            d -> d.positionOf("Ada"), d -> d.update(moved, "a", "b", "c"), d -> d.delete(moved), Database::size,
            d -> d.find(Query.where("name").is("Ada")), d -> d.findRecords(Query.where("name").is("")));
        for (Consumer<Database> call : calls) {
          assertThrows(IllegalStateException.class, () -> call.accept(db));
        }
      }
      // Reopened with the stored schema: positions still hold, stale ones still read as absent.
      try (Database again = Database.open(base, "key", keyIndex)) {
        assertEquals(PEOPLE, again.schema());
        db.close();  // a second time: does nothing, and leaves the files to the new handle
        assertThrows(DatabaseOpenException.class, () -> Database.open(base, "key", keyIndex));
        assertEquals(List.of(ROWS[1]), again.get(at[1]).orElseThrow().values());
        assertEquals("Paris", again.get(moved).orElseThrow().get("city"));
        assertEquals(Optional.empty(), again.get(at[0]));
        assertEquals(Files.size(Path.of(base + ".dat")), again.append("Grace", "", ""));
      }
    }
  }

  @Test
  void queriesMatchByFieldNameIgnoringAsciiCase() throws Exception {
    try (Database db = Database.open(scratch().resolve("q"), "", true, PEOPLE)) {
      int[] at = appendAll(db);
      Object[][] cases = {
        {Query.where("city").is("LONDON"), new int[] {at[0], at[2]}},
        {Query.where("city").is("london").and("name").contains("d"), new int[] {at[0]}},
        {Query.where("note").contains("PROG"), new int[] {at[0]}},
        {Query.where("city").contains("\u20ac"), new int[] {at[1]}},
        {Query.where("name").is("Ad"), new int[] {}},
        {Query.where("name").is(""), at},
      };
      for (Object[] c : cases) {
        Query query = (Query) c[0];
        assertArrayEquals((int[]) c[1], db.find(query), query.toString());
        assertArrayEquals((int[]) c[1], db.positions(query).toArray(), query.toString());
      }
      assertEquals(List.of(db.get(at[2]).orElseThrow()), db.findRecords(Query.where("name").is("ALAN")));
      Object[][] richer = {
        {Query.where("name").startsWith("a"), new int[] {at[0], at[2]}},
        {Query.where("city").startsWith("on"), new int[] {}},  // contains "on", starts otherwise
        {Query.where("name").is("alan").or(Query.where("city").contains("\u20ac")), new int[] {at[1], at[2]}},
        {Query.where("name").is("ada").or(Query.where("name").is("ada")), new int[] {at[0]}},
        {Query.where("city").is("london").or(Query.where("note").is("x")).and("name").startsWith("al"),
            new int[] {at[2]}},
        {Query.all().limit(2), new int[] {at[0], at[1]}},
        {Query.where("city").is("london").limit(1), new int[] {at[0]}},
        {Query.all().limit(0), new int[] {}},
      };
      for (Object[] c : richer) {
        Query query = (Query) c[0];
        int[] expected = (int[]) c[1];
        assertArrayEquals(expected, db.find(query), query.toString());
        assertEquals(expected.length, db.count(query), query.toString());
        List<Record> records = new ArrayList<>();
        for (int position : expected) {
          records.add(db.get(position).orElseThrow());
        }
        assertEquals(records, db.stream(query).toList(), query.toString());
        assertEquals(records, db.findRecords(query), query.toString());
      }
      assertEquals("(city is \"london\" and name starts with \"al\") or (note is \"x\" and name starts with \"al\")",
          richer[4][0].toString());
      assertEquals(List.of(ROWS[0][0], ROWS[1][0], ROWS[2][0]), db.records().map(r -> r.get(0)).toList());
      assertThrows(IllegalArgumentException.class, () -> db.find(Query.where("town").is("x")));
      assertThrows(IllegalArgumentException.class, () -> db.find(Query.where("name").is("x").and("name").is("y")));
    }
  }

  @Test
  void failuresAreSpecificExceptions() throws Exception {
    Path dir = scratch();
    try (Database db = Database.open(dir.resolve("f"), "k", true, PEOPLE)) {
      int ada = db.append(ROWS[0]);
      assertEquals("Ada", assertThrows(DuplicateKeyException.class, () -> db.append(ROWS[0])).key());
      assertThrows(IllegalArgumentException.class, () -> db.append("only one"));
      assertThrows(IllegalArgumentException.class, () -> db.update(ada, "a", "b", "c", "d"));
      int alan = db.append(ROWS[2]);
      // Another live record's key is refused; the record's own key, kept or changed, is not.
      assertEquals("Ada", assertThrows(DuplicateKeyException.class, () -> db.update(alan, "Ada", "", "")).key());
      assertEquals(List.of(ROWS[2]), db.get(alan).orElseThrow().values());
      assertEquals(OptionalInt.of(ada), db.update(ada, "Ada", "Rome", ""));
      int turing = db.update(alan, "Turing", "Manchester", "").orElseThrow();
      assertEquals(OptionalInt.of(turing), db.positionOf("Turing"));
      assertTrue(db.delete(turing));
      String[] withNull = {"a", null, "c"};
      Map<String, Runnable> nulls = Map.of(
          "values[1] (field city) is null", () -> db.append(withNull),
          "values is null", () -> db.update(ada, (String[]) null),
          "key is null", () -> db.get((String) null),
          "query is null", () -> db.find(null),
          "text is null", () -> Query.where("name").is(null),
          "base is null", () -> Database.open(null, "k", true));
      nulls.forEach((message, call) ->
          assertEquals(message, assertThrows(IllegalArgumentException.class, call::run).getMessage()));
      assertEquals(1, db.size());
      // Held by this handle under every spelling: another path, a symlinked folder.
      Files.createDirectory(dir.resolve("x"));
      Path linked = Files.createSymbolicLink(dir.resolve("link"), dir);
      for (Path other : List.of(dir.resolve("x/../f"), linked.resolve("f"))) {
        assertEquals(DatabaseOpenException.Reason.LOCKED,
            assertThrows(DatabaseOpenException.class, () -> Database.open(other, "k", true, PEOPLE)).reason());
      }
    }
    Database.open(dir.resolve("f"), "k", true, PEOPLE).close();  // closing let the files go
    Files.createDirectory(dir.resolve("dir.str"));
    Files.write(dir.resolve("cut.str"), new byte[] {2, 0, 0, 0, 1, -4, -1, -1, -1, 'n'});
    Map<DatabaseOpenException.Reason, Runnable> opens = Map.of(
        DatabaseOpenException.Reason.FOLDER_MISSING, () -> Database.open(dir.resolve("no/f"), "k", true, PEOPLE),
        DatabaseOpenException.Reason.FILE_NOT_READABLE, () -> Database.open(dir.resolve("dir"), "k", true, PEOPLE),
        DatabaseOpenException.Reason.REFUSED, () -> Database.open(dir.resolve("cut"), "k", true, PEOPLE),
        DatabaseOpenException.Reason.SCHEMA_MISMATCH, () -> Database.open(dir.resolve("f"), "k", true,
            Schema.builder().field("name", true).field("city", false).field("note", false).build()));
    opens.forEach((reason, open) ->
        assertEquals(reason, assertThrows(DatabaseOpenException.class, open::run).reason(), reason.name()));
    // A damaged file is named, with what is wrong with it.
    assertEquals("damaged schema block in " + dir.resolve("cut.str")
            + ": a negative count or name length, or a block cut short while records need it",
        assertThrows(DatabaseOpenException.class, () -> Database.open(dir.resolve("cut"), "k", true)).getMessage());
    assertEquals(DatabaseOpenException.Reason.SCHEMA_MISMATCH,
        assertThrows(DatabaseOpenException.class, () -> Database.open(dir.resolve("new"), "k", true)).reason());
  }

  @Test
  void fieldNamesOfAnyLengthReopen() throws Exception {
    // Over 65,535 bytes of modified UTF-8, with 2- and 3-byte characters across each 64 KiB step.
    String name = "n".repeat(65534) + "\u00e9\u20ac".repeat(20000) + "\uD83D\uDE00";
    Schema schema = Schema.builder().field(name, true).field("city", false).build();
    Path base = scratch().resolve("long");
    Database.open(base, "k", true, schema).close();
    try (Database db = Database.open(base, "k", true)) {
      assertEquals(schema, db.schema());
    }
  }

  @Test
  void recordsThatWouldPassTheFileSizeLimitAreNotStored() throws Exception {
    Path base = scratch().resolve("big");
    int ada;
    try (Database db = Database.open(base, "k", true, PEOPLE)) {
      ada = db.append(ROWS[0]);
    }
    // Sparse bytes that no position covers bring the data file near its 2^31 - 1 byte limit.
    try (RandomAccessFile data = new RandomAccessFile(base + ".dat", "rw")) {
      data.setLength(Integer.MAX_VALUE - 40);
    }
    try (Database db = Database.open(base, "k", true)) {
      assertThrows(RecordNotStoredException.class, () -> db.append("Grace", "a city long enough to pass", ""));
      assertThrows(RecordNotStoredException.class, () -> db.update(ada, "Ada", "London", "a note too long to fit"));
      assertEquals(OptionalInt.of(ada), db.update(ada, "Ada", "Paris", ""));
      assertEquals(Integer.MAX_VALUE - 40, db.append("G", "", ""));
      assertEquals(2, db.size());
    }
  }

  @Test
  void batchesRunInOrderAndARefusedRunOfAppendsWritesNothing() throws Exception {
    try (Database db = Database.open(scratch().resolve("batch"), "k", true, PEOPLE)) {
      int[] at = db.batch(b -> {
        for (String[] row : ROWS) {
          b.append(row);
        }
      });
      for (int i = 0; i < ROWS.length; i++) {
        assertEquals(List.of(ROWS[i]), db.get(at[i]).orElseThrow().values());
      }
      int[] mixed = db.batch(b -> b.append("Grace", "", "").update(at[0], "Ada", "Paris", "moved by a longer note")
          .delete(at[2]).delete(at[2]).update(at[2], "x", "", ""));
      assertEquals(db.positionOf("Grace").orElseThrow(), mixed[0]);
      assertEquals(db.positionOf("Ada").orElseThrow(), mixed[1]);
      assertArrayEquals(new int[] {at[2], -1, -1}, Arrays.copyOfRange(mixed, 2, 5));
      long dataBytes = Files.size(Path.of(db.path() + ".dat"));

      // A key repeated within a run of appends, or already live, refuses the whole run.
      List<Consumer<Batch>> refused = List.of(b -> b.append("Hedy", "", "").append("Hedy", "", ""),
          b -> b.append("Hedy", "", "").append("Grace", "", ""),
          b -> b.delete(mixed[0]).append("Hedy", "", "").append("Ada", "", "").delete(at[1]));
      int[] applied = {0, 0, 1};
      for (int i = 0; i < refused.size(); i++) {
        Consumer<Batch> body = refused.get(i);
        BatchException e = assertThrows(BatchException.class, () -> db.batch(body));
        assertEquals(applied[i], e.applied());
        assertTrue(e.getCause() instanceof DuplicateKeyException, e.toString());
      }
      assertEquals(OptionalInt.empty(), db.positionOf("Hedy"));
      assertEquals(OptionalInt.empty(), db.positionOf("Grace"));  // the delete before the refusal stands
      assertEquals(2, db.size());
      assertEquals(dataBytes, Files.size(Path.of(db.path() + ".dat")));
      assertThrows(IllegalArgumentException.class, () -> db.batch(b -> b.append("Hedy").append("x", "", "")));
      assertArrayEquals(new int[0], db.batch(b -> { }));
      assertEquals(2, db.size());
    }
  }

  @Test
  void findRecordsSeesEveryRecordWhileUpdatesMoveThem() throws Exception {
    try (Database db = Database.open(scratch().resolve("snap"), "k", true, PEOPLE)) {
      int records = 300;
      for (int i = 0; i < records; i++) {
        db.append("n" + i, "c", "");
      }
      Thread mover = new Thread(() -> {
        // Each update grows the note, so every one moves its record to the end of the file.
        for (int round = 1; round <= 20; round++) {
          for (int i = 0; i < records; i++) {
            db.update(db.positionOf("n" + i).orElseThrow(), "n" + i, "c", "x".repeat(round));
          }
        }
      });
      mover.start();
      int reads = 0;
      while (mover.isAlive() || reads == 0) {
        List<Record> found = db.findRecords(Query.where("city").is("c"));
        assertEquals(records, found.size(), "after " + reads + " reads");
        reads++;
      }
      mover.join();
    }
  }

  @Test
  void aSecondClassLoaderIsToldWhyItCannotLoadTheLibrary() throws Exception {
    Database.open(scratch().resolve("first"), "", true, PEOPLE).close();  // this loader has the library
    URL jar = Database.class.getProtectionDomain().getCodeSource().getLocation();
    try (URLClassLoader second = new URLClassLoader(new URL[] {jar}, ClassLoader.getPlatformClassLoader())) {
      Class<?> again = Class.forName("org.mero.db.NativeDatabase", false, second);
      UnsatisfiedLinkError e = assertThrows(UnsatisfiedLinkError.class, () -> Class.forName(again.getName(), true, second));
      assertTrue(e.getMessage().startsWith("mero_java is already loaded by another class loader of this JVM"),
          e.getMessage());
    }
  }

  @Test
  void aStreamVisitsEveryRecordWhileUpdatesMoveThem() throws Exception {
    try (Database db = Database.open(scratch().resolve("stream"), "k", true, PEOPLE)) {
      int records = 3000;
      db.batch(b -> {
        for (int i = 0; i < records; i++) {
          b.append("n" + i, "c" + i % 2, "");
        }
      });
      AtomicBoolean streaming = new AtomicBoolean(true);
      Thread mover = new Thread(() -> {
        // Each update grows the note, so every one moves its record to the end of the file.
        for (int round = 1; streaming.get(); round++) {
          for (int i = 0; i < records && streaming.get(); i += 7) {
            db.update(db.positionOf("n" + i).orElseThrow(), "n" + i, "c" + i % 2, "x".repeat(round % 50));
          }
        }
      });
      mover.start();
      try {
        for (int pass = 0; pass < 20; pass++) {
          Set<String> all = new HashSet<>();
          db.records().forEach(r -> all.add(r.get(0)));
          assertEquals(records, all.size(), "records() pass " + pass);
          Set<String> odd = new HashSet<>();
          db.stream(Query.where("city").is("c1")).forEach(r -> odd.add(r.get(0)));
          assertEquals(records / 2, odd.size(), "stream(query) pass " + pass);
        }
      } finally {
        streaming.set(false);
        mover.join();
      }
    }
    Database db = Database.open(scratch().resolve("closing"), "k", true, PEOPLE);
    Stream<Record> open = db.records();
    db.close();
    assertThrows(IllegalStateException.class, () -> open.count());
  }

  @Test
  void aForgottenHandleIsClosedOnceUnreachable() throws Exception {
    Path base = scratch().resolve("forgotten");
    Database.open(base, "k", true, PEOPLE).append(ROWS[0]);  // never closed
    Database again = null;
    for (int attempt = 0; again == null && attempt < 200; attempt++) {
      System.gc();
      try {
        again = Database.open(base, "k", true);
      } catch (DatabaseOpenException held) {
        assertEquals(DatabaseOpenException.Reason.LOCKED, held.reason());
        Thread.sleep(20);
      }
    }
    try (Database reopened = again) {
      assertTrue(reopened != null, "the forgotten handle still holds its files");
      assertEquals(1, reopened.size());
      assertEquals("1.0.0", Database.version());
    }
  }

  @Test
  void threadsShareOneHandleAndRaceItsClose() throws Exception {
    Database db = Database.open(scratch().resolve("t"), "k", true, PEOPLE);
    Map<Integer, String> written = new ConcurrentHashMap<>();
    List<Throwable> unexpected = new ArrayList<>();
    List<Thread> threads = new ArrayList<>();
    for (int t = 0; t < 4; t++) {
      int thread = t;
      threads.add(new Thread(() -> {
        try {
          for (int i = 0; ; i++) {
            String key = thread + "-" + i;
            written.put(db.append(key, "c" + i % 3, "x".repeat(i % 7)), key);
            db.find(Query.where("city").is("c1"));
            db.get(key).orElseThrow();
          }
        } catch (IllegalStateException closed) {
          // The end of the race.
        } catch (Throwable t2) {
          synchronized (unexpected) {
            unexpected.add(t2);
          }
        }
      }));
    }
    threads.forEach(Thread::start);
    while (written.size() < 2000 && threads.stream().anyMatch(Thread::isAlive)) {
      Thread.onSpinWait();
    }
    Map<Integer, String> snapshot = Map.copyOf(written);
    for (Map.Entry<Integer, String> e : snapshot.entrySet()) {
      assertEquals(e.getValue(), db.get(e.getKey()).orElseThrow().get("name"));
    }
    db.close();
    for (Thread thread : threads) {
      thread.join();
    }
    assertEquals(List.of(), unexpected);
  }
}
