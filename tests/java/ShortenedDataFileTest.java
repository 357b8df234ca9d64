import static org.junit.jupiter.api.Assertions.assertEquals;

import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * Another program shortens the data file under an open database (which nothing of ours does, but
 * a careless script can): reads of records whose bytes are gone answer their failure results, and
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
    String[] last = db.getRecord(id, "k" + (RECORDS - 1));
    String[] first = db.getRecord(id, "k0");
    System.out.println("read before " + before + ", after: last " + (last != null) + ", first " + (first != null));
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
    assertEquals("read before true, after: last false, first false\nclosed\n", output);
  }
}
