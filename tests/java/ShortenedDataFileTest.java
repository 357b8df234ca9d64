import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * Another program shortens the data file under an open database (which nothing of ours does, but
 * a careless script can): reads of records whose bytes are gone answer their failure results (or,
 * from the read cache, the record as written), and
 * the JVM (with -Xcheck:jni, in a child process so that a crash is seen rather than suffered)
 * goes on to close the database and exit normally, printing nothing of its own.
 */
class ShortenedDataFileTest {
  private static final int RECORDS = 3000;

  public static void main(String[] args) throws Exception {
    DatabaseMarshall db = new DatabaseMarshall();
    String base = args[0];
    int id = TestDatabases.createStandard(db, base);
    for (int i = 0; i < RECORDS; i++) {
      db.write(id, new String[] {"k" + i, "city", "note " + i});
    }
    boolean before = db.getRecord(id, "k" + (RECORDS - 1)) != null && db.getRecord(id, "k0") != null;
    try (RandomAccessFile data = new RandomAccessFile(base + ".dat", "rw")) {
      data.setLength(0);
    }
    // The middle record was never read, so no cache holds it; the last one
    // may still be answered from the library's read cache, but only as written.
    String[] middle = db.getRecord(id, "k" + (RECORDS / 2));
    String[] last = db.getRecord(id, "k" + (RECORDS - 1));
    boolean lastAsWritten = last == null || ("k" + (RECORDS - 1)).equals(last[0]);
    System.out.println("read before " + before + ", after: middle " + (middle != null) + ", last " + lastAsWritten);
    db.close(id);
    System.out.println("closed");
  }

  @Test
  void readsOfVanishedBytesFailAndTheJvmCarriesOn() throws Exception {
    Path dir = TestDatabases.scratch("shortened");
    Process child =
        TestDatabases.childJvm(List.of(), ShortenedDataFileTest.class, dir.resolve("db").toString()).start();
    String output = new String(child.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
    int status = child.waitFor();
    assertEquals(0, status, output);
    assertEquals("read before true, after: middle false, last true\nclosed\n", output);
  }
}
