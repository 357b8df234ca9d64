import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Path;
import org.junit.jupiter.api.Test;

/** The record methods as a Java program uses them. */
class RecordOperationsTest {
  private final DatabaseMarshall db = TestDatabases.DB;

  private static int[] indexFile(Path dir) throws Exception {
    ByteBuffer bytes = ByteBuffer.wrap(TestDatabases.read(dir, "db.idx")).order(ByteOrder.LITTLE_ENDIAN);
    int[] out = new int[bytes.remaining() / 4];
    for (int i = 0; i < out.length; i++) {
      out[i] = bytes.getInt();
    }
    return out;
  }

  @Test
  void appendReadAndCount() throws Exception {
    Path dir = TestDatabases.scratch("append");
    int id = TestDatabases.create(dir, "db", new boolean[] {true, false, false}, "k", true);
    assertEquals(0, db.numRecs(id));
    assertEquals(0, db.write(id, new String[] {"first", "", ""}));
    assertEquals(1, db.numRecs(id));
    assertEquals(0, db.getPos(id, "first"));
    assertEquals(1, db.write(id, new String[] {"too", "few"}));
    assertEquals(1, db.write(id, new String[] {"too", "many", "values", "here"}));
    assertEquals(2, db.write(id, new String[] {"first", "again", ""}));
    assertEquals(0, db.write(id, new String[] {"FIRST", "", ""}));
    assertEquals(2, db.numRecs(id));
    assertArrayEquals(new String[] {"first", "", ""}, db.getRecord(id, 0));
    assertArrayEquals(new int[] {2, 0, 21}, indexFile(dir));
    assertNull(db.getRecord(id, 1000));
    assertNull(db.getRecord(id, 3));
    assertTrue(db.unregister(id));
  }

  @Test
  void updateInPlaceVersusMoved() throws Exception {
    Path dir = TestDatabases.scratch("update");
    int id = TestDatabases.create(dir, "db", new boolean[] {true, true}, "k", true);
    assertEquals(0, db.write(id, new String[] {"a", "red"}));
    assertEquals(0, db.write(id, new String[] {"b", "green"}));
    assertEquals(0, db.write(id, new String[] {"c", "blue"}));
    int b = db.getPos(id, "b");
    int[] before = indexFile(dir);
    assertTrue(db.updateRecord(id, b, new String[] {"b", "GREEN"}));
    assertArrayEquals(before, indexFile(dir));
    assertEquals(b, db.getPos(id, "b"));
    int end = (int) dir.resolve("db.dat").toFile().length();
    assertTrue(db.updateRecord(id, b, new String[] {"b", "greenish teal"}));
    assertEquals(end, db.getPos(id, "b"));
    assertArrayEquals(new int[] {3, 0, end, before[3]}, indexFile(dir));
    assertArrayEquals(new int[] {0, end, before[3]}, db.find(id, new boolean[2], new String[] {"", ""}));
    assertArrayEquals(new String[] {"b", "GREEN"}, db.getRecord(id, b));  // old image stays readable
    assertArrayEquals(new int[] {end}, db.find(id, new boolean[] {false, true}, new String[] {"", "TEAL"}));
    assertArrayEquals(new int[0], db.find(id, new boolean[] {false, false}, new String[] {"", "green"}));
    assertFalse(db.updateRecord(id, b, new String[] {"b", "x"}));
    assertFalse(db.updateRecord(id, end, new String[] {"b"}));
    assertFalse(db.updateRecord(id, -1, new String[] {"b", "x"}));
    // Taking another record's first field: it stays reachable, ours is not.
    assertTrue(db.updateRecord(id, end, new String[] {"a", "greenish teal"}));
    assertEquals(0, db.getPos(id, "a"));
    assertEquals(-1, db.getPos(id, "b"));
    assertTrue(db.unregister(id));
  }

  @Test
  void deleteShiftsLaterRecordsAndSurvivesReopen() throws Exception {
    Path dir = TestDatabases.scratch("delete");
    int id = TestDatabases.create(dir, "db", new boolean[] {true}, "k", true);
    int[] at = new int[5];
    for (int i = 0; i < 5; i++) {
      assertEquals(0, db.write(id, new String[] {"key" + i}));
      at[i] = db.getPos(id, "key" + i);
    }
    assertTrue(db.deleteRecord(id, at[1]));
    assertFalse(db.deleteRecord(id, at[1]));
    assertFalse(db.deleteRecord(id, at[1] + 1));
    assertArrayEquals(new int[] {4, at[0], at[2], at[3], at[4], at[4]}, indexFile(dir));
    assertEquals(-1, db.getPos(id, "key1"));
    assertArrayEquals(new int[] {at[0], at[2], at[3], at[4]},
        db.find(id, new boolean[] {true}, new String[] {"KEY"}));
    assertTrue(db.close(id));
    assertTrue(db.open(id, "k", true));
    assertEquals(4, db.numRecs(id));
    assertNull(db.getRecord(id, "key1"));
    for (int i = 0; i < 5; i++) {
      db.deleteRecord(id, at[i]);
    }
    assertEquals(0, db.numRecs(id));
    assertArrayEquals(new int[0], db.find(id, new boolean[0], new String[0]));
    assertTrue(db.unregister(id));
  }

  @Test
  void keyIndexOffAnswersNoKeys() throws Exception {
    Path dir = TestDatabases.scratch("nokeys");
    int id = TestDatabases.create(dir, "db", new boolean[] {false}, "k", false);
    assertEquals(0, db.write(id, new String[] {"same"}));
    assertEquals(0, db.write(id, new String[] {"same"}));
    assertEquals(-1, db.getPos(id, "same"));
    assertNull(db.getRecord(id, "same"));
    assertEquals(2, db.find(id, new boolean[] {false}, new String[] {"SAME"}).length);
    assertTrue(db.unregister(id));
  }
}
