import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.Test;

/** The files as other processes see them: schema bytes, reopening, keys, damage. */
class StorageTest {
  private final DatabaseMarshall db = TestDatabases.DB;

  @Test
  void schemaBlockIsWrittenOnceAndOnlyTheFirstCounts() throws Exception {
    Path dir = TestDatabases.scratch("schema");
    int id = db.register(dir.resolve("people").toString());
    assertFalse(db.define(id, new boolean[] {true, false}, new String[] {"name", "age", "x"}));
    assertFalse(Files.exists(dir.resolve("people.str")));
    assertTrue(db.define(id, new boolean[] {true, false}, new String[] {"name", "age"}));
    byte[] expected = {2, 0, 0, 0, 1, 4, 0, 0, 0, 0x6E, 0x61, 0x6D, 0x65, 0, 3, 0, 0, 0, 0x61, 0x67, 0x65};
    assertArrayEquals(expected, TestDatabases.read(dir, "people.str"));
    assertTrue(db.open(id, "k", true));
    assertFalse(db.define(id, new boolean[] {false}, new String[] {"other"}));
    assertEquals(0, TestDatabases.read(dir, "people.dat").length);
    assertEquals(0, TestDatabases.read(dir, "people.idx").length);
    assertTrue(db.close(id));
    assertTrue(db.define(id, new boolean[] {false}, new String[] {"other"}));
    assertEquals(expected.length + 14, TestDatabases.read(dir, "people.str").length);
    assertTrue(db.open(id, "k", true));
    assertEquals(1, db.write(id, new String[] {"one value"}));
    assertEquals(0, db.write(id, new String[] {"two", "values"}));
    assertTrue(db.unregister(id));
  }

  @Test
  void aDatabaseWrittenByOneProcessReadsTheSameInAnother() throws Exception {
    Path dir = TestDatabases.scratch("processes");
    String base = dir.resolve("shared").toString();
    List<String> writer = TestDatabases.runInChildJvm(StorageChild.class, "write", base);
    List<String> reader = TestDatabases.runInChildJvm(StorageChild.class, "read", base);
    assertEquals(writer, reader);
    assertEquals("count 49", reader.get(0));
    assertTrue(reader.contains("notes " + reader.get(1).substring("positions ".length())));
    // And this JVM agrees too.
    int id = db.register(base);
    assertTrue(db.open(id, "process key", true));
    assertEquals(49, db.numRecs(id));
    assertArrayEquals(new String[] {"key7", "grown to a much longer note ünïcödé", "Paris"}, db.getRecord(id, "key7"));
    assertTrue(db.unregister(id));
  }

  @Test
  void aWrongKeyOpensAndReturnsValidStrings() throws Exception {
    Path dir = TestDatabases.scratch("wrongkey");
    int id = TestDatabases.create(dir, "db", new boolean[] {true, false}, "right key", true);
    StringBuilder all = new StringBuilder();
    for (char c = 1; c < 0x800; c++) {
      all.append(c);
    }
    String[] values = {"first", all.toString()};
    assertEquals(0, db.write(id, values));
    assertTrue(db.close(id));
    for (String key : new String[] {"wrong", "\u00ff\u00fe", "", "x", "right keY"}) {
      assertTrue(db.open(id, key, true), key);
      String[] got = db.getRecord(id, 0);
      assertNotNull(got);
      assertEquals(2, got.length);
      assertNotEquals("first", got[0]);
      assertEquals(1, db.find(id, new boolean[0], new String[0]).length);
      assertTrue(db.close(id));
    }
    assertTrue(db.open(id, "right key", true));
    assertArrayEquals(values, db.getRecord(id, 0));
    assertTrue(db.unregister(id));
  }

  @Test
  void damagedFilesAreRefusedAndLeftByteIdentical() throws Exception {
    Path dir = TestDatabases.scratch("damage");
    int id = TestDatabases.create(dir, "db", new boolean[] {true, false}, "k", true);
    assertEquals(0, db.write(id, new String[] {"a", "b"}));
    assertEquals(0, db.write(id, new String[] {"c", "d"}));
    assertTrue(db.close(id));
    byte[] index = TestDatabases.read(dir, "db.idx");
    byte[][] damages = {
      {9, 0, 0, 0},                        // count beyond the entries
      {2, 0, 0, 0, 0, 0, 0, 0, 5, 0, 0, 0}, // entry inside a record
      {(byte) 0xFF, (byte) 0xFF, (byte) 0xFF, (byte) 0xFF},
    };
    for (byte[] damage : damages) {
      Files.write(dir.resolve("db.idx"), damage);
      assertFalse(db.open(id, "k", true));
      assertArrayEquals(damage, TestDatabases.read(dir, "db.idx"));
      assertEquals(0, db.numRecs(id));
      assertEquals(3, db.write(id, new String[] {"x", "y"}));
    }
    Files.write(dir.resolve("db.idx"), index);
    byte[] schema = TestDatabases.read(dir, "db.str");
    Files.write(dir.resolve("db.str"), java.util.Arrays.copyOf(schema, 6));
    assertFalse(db.open(id, "k", true));
    Files.write(dir.resolve("db.str"), schema);
    assertTrue(db.open(id, "k", true));
    assertEquals(2, db.numRecs(id));
    assertTrue(db.unregister(id));
  }

  @Test
  void openingAnOpenDatabaseAgainStartsAfresh() throws Exception {
    Path dir = TestDatabases.scratch("reopen");
    int id = TestDatabases.create(dir, "db", new boolean[] {true}, "k", true);
    assertEquals(0, db.write(id, new String[] {"a"}));
    assertTrue(db.open(id, "k", false));
    assertEquals(1, db.numRecs(id));
    assertEquals(-1, db.getPos(id, "a"));  // key index now off
    assertEquals(0, db.write(id, new String[] {"a"}));
    assertTrue(db.open(id, "k", true));
    assertEquals(0, db.getPos(id, "a"));  // the lower record number keeps the key
    assertTrue(db.unregister(id));
    Path missing = dir.resolve("no/such/dir/db");
    int lost = db.register(missing.toString());
    assertFalse(db.open(lost, "k", true));
    assertFalse(Files.exists(missing.getParent()));
    assertTrue(db.close(lost));
    assertTrue(db.unregister(lost));
  }
}
