import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import org.junit.jupiter.api.Test;

/** The boundary itself: method binding, strings across it, and arguments it must survive. */
class InterfaceTest {
  private final DatabaseMarshall db = TestDatabases.DB;

  @Test
  void getRecordOverloadsBindToPositionAndKey() throws Exception {
    Path dir = TestDatabases.scratch("overloads");
    int id = TestDatabases.create(dir, "db", new boolean[] {false, false}, "k", true);
    assertEquals(0, db.write(id, new String[] {"12", "by key"}));
    assertEquals(0, db.write(id, new String[] {"0", "second"}));
    assertArrayEquals(new String[] {"12", "by key"}, db.getRecord(id, 0));
    // A string of digits is a key, never a position.
    assertArrayEquals(new String[] {"0", "second"}, db.getRecord(id, "0"));
    assertArrayEquals(new String[] {"12", "by key"}, db.getRecord(id, "12"));
    assertNull(db.getRecord(id, "missing"));
    assertNull(db.getRecord(id, db.getPos(id, "missing")));  // -1 chains to null
    assertTrue(db.close(id));
  }

  @Test
  void textOutsideAsciiGoesInAndComesBackUnchanged() throws Exception {
    Path dir = TestDatabases.scratch("unicode");
    int id = TestDatabases.create(dir, "db", new boolean[] {true, false, true}, "clé 🔑", true);
    String[] values = {"Zoë", "emoji 😀 and NUL \u0000 inside", "日本語 É é"};
    assertEquals(0, db.write(id, values));
    int pos = db.getPos(id, "Zoë");
    assertEquals(0, pos);
    assertArrayEquals(values, db.getRecord(id, pos));
    assertArrayEquals(new int[] {0}, db.find(id, new boolean[] {false, true}, new String[] {"ZOë", "😀"}));
    assertArrayEquals(new int[0], db.find(id, new boolean[] {false, false, true}, new String[] {"", "", "e E"}));
    assertTrue(db.close(id));
    assertTrue(db.open(id, "clé 🔑", true));
    assertArrayEquals(values, db.getRecord(id, "Zoë"));
    assertTrue(db.close(id));
  }

  @Test
  void wideRecordsStayWithinTheLocalReferenceFrame() throws Exception {
    // More fields and terms than the 16 local references a native call may
    // hold without asking: -Xcheck:jni would warn if they were all kept.
    Path dir = TestDatabases.scratch("wide");
    int fields = 40;
    int id = TestDatabases.create(dir, "db", TestDatabases.flags(fields, true), "k", true);
    String[] values = new String[fields];
    boolean[] partial = new boolean[fields];
    for (int i = 0; i < fields; i++) {
      values[i] = "value " + i;
      partial[i] = true;
    }
    assertEquals(0, db.write(id, values));
    assertArrayEquals(values, db.getRecord(id, 0));
    assertArrayEquals(values, db.getRecord(id, "value 0"));
    assertArrayEquals(new int[] {0}, db.find(id, partial, values));
    assertTrue(db.updateRecord(id, 0, values));
    assertTrue(db.unregister(id));
  }

  @Test
  void checksThatNeedNoDatabaseComeFirst() {
    int neverRegistered = 987654;
    assertNull(db.getRecord(neverRegistered, -1));
    assertFalse(db.updateRecord(neverRegistered, -5, new String[] {"x"}));
    assertArrayEquals(new int[0], db.find(neverRegistered, new boolean[2], new String[3]));
    assertEquals(0, db.numRecs(neverRegistered));
    assertEquals(-1, db.getPos(neverRegistered, "k"));
    assertNull(db.getRecord(neverRegistered, 0));
    assertFalse(db.deleteRecord(neverRegistered, 0));
    assertFalse(db.close(neverRegistered));
    assertFalse(db.unregister(neverRegistered));
  }

  @Test
  void nullArgumentsAreRefusedWithoutHarm() throws Exception {
    assertEquals(-1, db.register(null));
    Path dir = TestDatabases.scratch("nulls");
    int id = db.register(dir.resolve("db").toString());
    assertFalse(db.define(id, null, new String[] {"a"}));
    assertFalse(db.define(id, new boolean[] {true}, null));
    assertFalse(db.define(id, new boolean[] {true, false}, new String[] {"a", null}));
    assertFalse(dir.resolve("db.str").toFile().exists());
    assertTrue(db.define(id, new boolean[] {true, false}, new String[] {"a", "b"}));
    assertFalse(db.open(id, null, true));
    assertTrue(db.open(id, "k", true));
    assertEquals(1, db.write(id, null));
    assertEquals(1, db.write(id, new String[] {"a", null}));
    assertEquals(0, db.numRecs(id));
    assertEquals(0, db.write(id, new String[] {"a", "b"}));
    assertNull(db.getRecord(id, (String) null));
    assertEquals(-1, db.getPos(id, null));
    assertArrayEquals(new int[0], db.find(id, null, new String[] {"a"}));
    assertArrayEquals(new int[0], db.find(id, new boolean[1], null));
    assertArrayEquals(new int[0], db.find(id, new boolean[1], new String[] {null}));
    assertFalse(db.updateRecord(id, 0, null));
    assertFalse(db.updateRecord(id, 0, new String[] {null, "x"}));
    assertArrayEquals(new String[] {"a", "b"}, db.getRecord(id, 0));
    assertTrue(db.unregister(id));
  }

  @Test
  void registryHandsOutFreshIdsAndForgetsUnregisteredOnes() throws Exception {
    Path dir = TestDatabases.scratch("registry");
    int first = db.register(dir.resolve("a").toString());
    int second = db.register(dir.resolve("a").toString());
    assertEquals(first + 1, second);
    assertTrue(db.unregister(first));
    assertFalse(db.unregister(first));
    int third = db.register(dir.resolve("b").toString());
    assertNotEquals(first, third);
    assertEquals(second + 1, third);
    assertFalse(db.define(first, new boolean[0], new String[0]));
    assertFalse(db.open(first, "k", true));
    assertTrue(db.unregister(second));
    assertTrue(db.unregister(third));
  }
}
