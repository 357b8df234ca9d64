package org.mero.db;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.RandomAccessFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.Optional;
import java.util.OptionalInt;
import java.util.concurrent.ConcurrentHashMap;
import java.util.function.Consumer;
import org.junit.jupiter.api.Test;

/** The packaged API through the real library: records, queries, failures, threads. */
class DatabaseTest {
  private static final Schema PEOPLE =
      Schema.builder().field("name", true).field("city", true).field("note", false).build();
  // Values whose modified UTF-8 takes 2 and 3 bytes per char (U+0000, é, €, a surrogate pair):
  // the position of each later append depends on counting them right.
  private static final String[][] ROWS = {
    {"Ada", "London", "first programmer"},
    {"Zo\u00eb\u0000", "Z\u00fcrich \u20ac", "\uD83D\uDE00"},
    {"Alan", "london", ""},
  };

  private static Path scratch() throws Exception {
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
        assertEquals(keyIndex ? Optional.of(ada) : Optional.empty(), db.get("Ada"));
        assertEquals(keyIndex ? OptionalInt.of(at[2]) : OptionalInt.empty(), db.positionOf("Alan"));

        assertEquals(OptionalInt.of(at[0]), db.update(at[0], "Ada", "Paris", "first"));
        moved = db.update(at[0], "Ada", "Paris", "a much longer note than before").orElseThrow();
        assertNotEquals(at[0], moved);
        assertEquals(Optional.empty(), db.get(at[0]));
        assertEquals("a much longer note than before", db.get(moved).orElseThrow().get("note"));
        assertEquals(OptionalInt.empty(), db.update(at[0], "Ada", "", ""));
        assertEquals(keyIndex ? OptionalInt.of(moved) : OptionalInt.empty(), db.positionOf("Ada"));

        assertTrue(db.delete(at[2]));
        assertFalse(db.delete(at[2]));
        assertEquals(Optional.empty(), db.get(at[2]));
        assertEquals(Optional.empty(), db.get(-1));
        assertEquals(2, db.size());
        db.close();
        List<Consumer<Database>> calls = List.of(d -> d.append("a", "b", "c"), d -> d.get(moved), d -> d.get("Ada"),
            d -> d.positionOf("Ada"), d -> d.update(moved, "a", "b", "c"), d -> d.delete(moved), Database::size,
            d -> d.find(Query.where("name").is("Ada")));
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
      assertEquals(1, db.size());
      assertThrows(DatabaseOpenException.class, () -> Database.open(dir.resolve("x/../f"), "k", true, PEOPLE));
    }
    Database.open(dir.resolve("f"), "k", true, PEOPLE).close();  // closing let the files go
    Files.createDirectory(dir.resolve("dir.str"));
    Files.write(dir.resolve("cut.str"), new byte[] {2, 0, 0, 0, 1, 4, 0, 0, 0, 'n'});
    Map<DatabaseOpenException.Reason, Runnable> opens = Map.of(
        DatabaseOpenException.Reason.FOLDER_MISSING, () -> Database.open(dir.resolve("no/f"), "k", true, PEOPLE),
        DatabaseOpenException.Reason.FILE_NOT_READABLE, () -> Database.open(dir.resolve("dir"), "k", true, PEOPLE),
        DatabaseOpenException.Reason.REFUSED, () -> Database.open(dir.resolve("cut"), "k", true, PEOPLE),
        DatabaseOpenException.Reason.SCHEMA_MISMATCH, () -> Database.open(dir.resolve("f"), "k", true,
            Schema.builder().field("name", true).field("city", false).field("note", false).build()));
    opens.forEach((reason, open) ->
        assertEquals(reason, assertThrows(DatabaseOpenException.class, open::run).reason(), reason.name()));
    assertEquals(DatabaseOpenException.Reason.SCHEMA_MISMATCH,
        assertThrows(DatabaseOpenException.class, () -> Database.open(dir.resolve("new"), "k", true)).reason());
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
  void livePositionsStaySortedThroughRemovalsAndAppends() {
    int[] fromIndex = new int[200];  // record order after moves is not position order
    for (int i = 0; i < fromIndex.length; i++) {
      fromIndex[i] = (fromIndex.length - 1 - i) * 12;
    }
    LivePositions live = new LivePositions(fromIndex);
    for (int p = 0; p < 2400; p += 12) {
      if (p % 36 != 0) {
        live.remove(p);  // two thirds: the dead slots get squeezed out on the way
      }
    }
    for (int p = 2400; p < 3600; p += 12) {
      live.add(p);
    }
    live.add(12);  // behind the end, removed before
    live.add(30);  // behind the end, never there
    for (int p = 0; p < 3600; p++) {
      assertEquals(p % 12 == 0 && (p % 36 == 0 || p >= 2400 || p == 12) || p == 30, live.contains(p), "position " + p);
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
