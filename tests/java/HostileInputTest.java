import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.DataOutputStream;
import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * Hostile calls through the real library under -Xcheck:jni: positions anywhere, null arguments
 * everywhere, values read back with wrong keys, damaged files. Nothing may crash the JVM or draw
 * a JNI warning, and the database must be unharmed afterwards.
 */
class HostileInputTest {
  private final DatabaseMarshall db = new DatabaseMarshall();

  private static final String[][] PEOPLE = {
    {"Ada", "London", "first programmer"},
    {"Grace", "New York", "compilers"},
    {"Zoë", "Zürich", "non-ASCII \uD83D\uDE00 and \u0000 inside"},
  };

  private int people(Path dir) {
    int id = ReliabilitySupport.createOpen(db, dir.resolve("people").toString());
    for (String[] p : PEOPLE) {
      assertEquals(0, db.write(id, p));
    }
    return id;
  }

  private void assertUnharmed(int id) {
    assertEquals("", ReliabilitySupport.inconsistencies(db, id));
    List<String[]> records = ReliabilitySupport.records(db, id);
    assertEquals(PEOPLE.length, records.size());
    for (int i = 0; i < PEOPLE.length; i++) {
      assertArrayEquals(PEOPLE[i], records.get(i));
    }
  }

  @Test
  void positionsInsidePastAndFarPastTheDataFileReadNothingOrAWholeRecord() throws IOException {
    Path dir = ReliabilitySupport.freshDir("hostile-positions");
    int id = people(dir);
    int size = (int) Files.size(dir.resolve("people.dat"));
    int[] live = db.find(id, ReliabilitySupport.NO_PARTIAL, ReliabilitySupport.NO_TERMS);
    for (int q = -3; q < size + 16; q++) {
      final int p = q;
      String[] values = db.getRecord(id, p);
      if (values != null) {
        assertEquals(3, values.length, "at " + p);
        assertTrue(Arrays.stream(values).allMatch(v -> v != null), "at " + p);
      }
      if (Arrays.stream(live).noneMatch(l -> l == p)) {
        assertFalse(db.updateRecord(id, p, new String[] {"x", "y", "z"}), "update at " + p);
        assertFalse(db.deleteRecord(id, p), "delete at " + p);
      }
    }
    for (int p : new int[] {size, size + 1, size + 4096, 1 << 30, Integer.MAX_VALUE, Integer.MAX_VALUE - 3,
        Integer.MIN_VALUE}) {
      assertNull(db.getRecord(id, p), "at " + p);
      assertFalse(db.updateRecord(id, p, new String[] {"x", "y", "z"}));
      assertFalse(db.deleteRecord(id, p));
    }
    assertUnharmed(id);
    assertTrue(db.unregister(id));
  }

  @Test
  void nullArgumentsEverywhereGiveFailureResults() throws IOException {
    Path dir = ReliabilitySupport.freshDir("hostile-nulls");
    int id = people(dir);
    int pos = db.getPos(id, "Ada");

    assertEquals(-1, db.register(null));
    int next = db.register(dir.resolve("other").toString());
    assertEquals(id + 1, next, "register(null) must not use up an id");
    assertFalse(db.define(next, null, new String[] {"a"}));
    assertFalse(db.define(next, new boolean[] {true}, null));
    assertFalse(db.define(next, new boolean[] {true, false}, new String[] {"a", null}));
    Path otherSchema = dir.resolve("other.str");
    assertTrue(!Files.exists(otherSchema) || Files.size(otherSchema) == 0, "a refused define writes nothing");
    assertFalse(db.open(next, null, true));
    assertTrue(db.unregister(next));

    assertNull(db.getRecord(id, (String) null));
    assertEquals(-1, db.getPos(id, null));
    assertEquals(0, db.find(id, null, new String[] {"Ada", "", ""}).length);
    assertEquals(0, db.find(id, new boolean[3], null).length);
    assertEquals(0, db.find(id, new boolean[3], new String[] {"Ada", null, ""}).length);
    assertEquals(1, db.write(id, null));
    assertEquals(1, db.write(id, new String[] {"Eve", null, "x"}));
    assertFalse(db.updateRecord(id, pos, null));
    assertFalse(db.updateRecord(id, pos, new String[] {"Ada", null, "x"}));
    assertUnharmed(id);
    assertTrue(db.unregister(id));
  }

  /**
   * Read back under a wrong key a value can decipher to any bytes, zero included. Each must come
   * back as a valid String: its modified UTF-8 has the same length as the deciphered bytes, equal
   * to them wherever they were valid, '?' elsewhere. Across the wrong keys used, every byte value
   * 0-255 is among the deciphered bytes.
   */
  @Test
  void valuesUnderWrongKeysComeBackAsValidStringsAndRightKeyRestoresThem() throws IOException {
    Path dir = ReliabilitySupport.freshDir("hostile-keys");
    String base = dir.resolve("k").toString();
    int id = db.register(base);
    assertTrue(db.define(id, new boolean[] {true, true, false}, new String[] {"a", "b", "c"}));
    String rightKey = "K\u00e9y\u20ac";
    assertTrue(db.open(id, rightKey, true));
    StringBuilder ascii = new StringBuilder();
    for (char c = 1; c < 128; c++) {
      ascii.append(c);
    }
    String[][] written = {
      {ascii.toString(), "\u0000\u00ff\u0100\u07ff\u0800\uffff", "\uD83D\uDE00\uDBFF\uDFFF \u00e9\u00e8"},
      {"plain", "", "\u20ac\u20ac\u20ac"},
    };
    for (String[] values : written) {
      assertEquals(0, db.write(id, values));
    }
    assertTrue(db.close(id));

    List<String> wrongKeys = new ArrayList<>();
    for (char c = 1; c < 128; c++) {
      wrongKeys.add(String.valueOf(c));
    }
    wrongKeys.addAll(List.of("\u00ff", "\u0100\u0001", "\u20ac", "\uD83D\uDE00", "K\u00e9y", ""));
    boolean[] seen = new boolean[256];
    byte[] data = Files.readAllBytes(Path.of(base + ".dat"));
    for (String key : wrongKeys) {
      assertTrue(db.open(id, key, true), "open with wrong key " + key);
      for (int position : db.find(id, ReliabilitySupport.NO_PARTIAL, ReliabilitySupport.NO_TERMS)) {
        String[] values = db.getRecord(id, position);
        assertNotNull(values);
        byte[][] raw = decipher(data, position, 3, key);
        for (int f = 0; f < 3; f++) {
          for (byte b : raw[f]) {
            seen[b & 0xff] = true;
          }
          byte[] returned = modifiedUtf8(values[f]);
          assertEquals(raw[f].length, returned.length, "length under key " + key);
          for (int i = 0; i < returned.length; i++) {
            assertTrue(returned[i] == raw[f][i] || returned[i] == '?', "byte " + i + " under key " + key);
          }
          if (isModifiedUtf8(raw[f])) {
            assertArrayEquals(raw[f], returned);
          }
        }
        String[] byKey = db.getRecord(id, values[0]);
        assertTrue(byKey == null || byKey.length == 3);
        db.find(id, new boolean[] {true, true, true}, new String[] {values[0], values[1], ""});
      }
      assertTrue(db.close(id));
    }
    for (int b = 0; b < 256; b++) {
      assertTrue(seen[b], "no wrong key deciphered to byte " + b);
    }
    assertTrue(db.open(id, rightKey, true));
    List<String[]> back = ReliabilitySupport.records(db, id);
    for (int i = 0; i < written.length; i++) {
      assertArrayEquals(written[i], back.get(i));
    }
    assertTrue(db.unregister(id));
  }

  @Test
  void damagedFilesAreRefusedWithoutAByteWritten() throws IOException {
    Path dir = ReliabilitySupport.freshDir("hostile-files");
    int id = people(dir);
    assertTrue(db.close(id));
    Path idx = dir.resolve("people.idx");
    Path str = dir.resolve("people.str");
    byte[] goodIndex = Files.readAllBytes(idx);
    byte[] goodSchema = Files.readAllBytes(str);

    byte[] countTooBig = goodIndex.clone();
    countTooBig[0] = 9;
    byte[] truncatedSchema = Arrays.copyOf(goodSchema, goodSchema.length - 1);
    byte[] entryPastData = goodIndex.clone();
    ByteBuffer.wrap(entryPastData).order(ByteOrder.LITTLE_ENDIAN).putInt(8, 1 << 20);
    Object[][] damages = {{idx, countTooBig}, {str, truncatedSchema}, {idx, entryPastData}};
    for (Object[] damage : damages) {
      Files.write(idx, goodIndex);
      Files.write(str, goodSchema);
      Files.write((Path) damage[0], (byte[]) damage[1]);
      byte[][] before = {Files.readAllBytes(idx), Files.readAllBytes(str), Files.readAllBytes(dir.resolve("people.dat"))};
      assertFalse(db.open(id, ReliabilitySupport.KEY, true), "opened " + damage[0]);
      assertEquals(0, db.numRecs(id));
      assertNull(db.getRecord(id, 0));
      assertEquals(3, db.write(id, new String[] {"a", "b", "c"}));
      assertArrayEquals(before[0], Files.readAllBytes(idx));
      assertArrayEquals(before[1], Files.readAllBytes(str));
      assertArrayEquals(before[2], Files.readAllBytes(dir.resolve("people.dat")));
    }
    Files.write(idx, goodIndex);
    Files.write(str, goodSchema);
    assertTrue(db.open(id, ReliabilitySupport.KEY, true));
    assertUnharmed(id);
    assertTrue(db.unregister(id));
  }

  /** The deciphered bytes of each field of the image at position, under key. */
  private static byte[][] decipher(byte[] data, int position, int fields, String key) throws IOException {
    byte[] k = modifiedUtf8(key);
    ByteBuffer in = ByteBuffer.wrap(data).order(ByteOrder.LITTLE_ENDIAN);
    int at = position + 4;
    byte[][] out = new byte[fields][];
    for (int f = 0; f < fields; f++) {
      int n = in.getInt(at);
      at += 4;
      out[f] = new byte[n];
      for (int i = 0; i < n; i++) {
        int keyByte = k.length == 0 ? 0 : k[k.length - 1 - i % k.length];
        out[f][i] = (byte) (data[at + i] - keyByte);
      }
      at += n;
    }
    return out;
  }

  private static byte[] modifiedUtf8(String s) throws IOException {
    ByteArrayOutputStream bytes = new ByteArrayOutputStream();
    new DataOutputStream(bytes).writeUTF(s);
    return Arrays.copyOfRange(bytes.toByteArray(), 2, bytes.size());
  }

  /** Whether these bytes are modified UTF-8, which NewStringUTF takes as they are. */
  private static boolean isModifiedUtf8(byte[] b) {
    for (int i = 0; i < b.length; ) {
      int c = b[i] & 0xff;
      int n = c >= 0x01 && c <= 0x7f ? 1 : c >= 0xc0 && c <= 0xdf ? 2 : c >= 0xe0 && c <= 0xef ? 3 : 0;
      if (n == 0 || i + n > b.length) {
        return false;
      }
      for (int j = 1; j < n; j++) {
        if ((b[i + j] & 0xc0) != 0x80) {
          return false;
        }
      }
      // Shortest forms only, but for U+0000 as C0 80.
      int c1 = n > 1 ? b[i + 1] & 0xff : 0;
      if (c == 0xc1 || (c == 0xc0 && c1 != 0x80) || (c == 0xe0 && c1 < 0xa0)) {
        return false;
      }
      i += n;
    }
    return true;
  }
}
