import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;

/** A short tour of the library: every method once, printing what it does. */
public class Demo {
  public static void main(String[] args) throws Exception {
    Path dir = args.length > 0 ? Path.of(args[0]) : Files.createTempDirectory("mero-demo");
    Files.createDirectories(dir);
    String base = dir.resolve("people").toString();
    for (String ext : new String[] {".str", ".dat", ".idx"}) {
      Files.deleteIfExists(Path.of(base + ext));
    }

    DatabaseMarshall db = new DatabaseMarshall();
    int id = db.register(base);
    System.out.println("register(" + base + ") -> id " + id);
    boolean defined = db.define(id, new boolean[] {true, true, false},
        new String[] {"name", "city", "note"});
    System.out.println("define(name*, city*, note) -> " + defined + "   (* = indexed for searching)");
    System.out.println("open(key \"secret\", key index on) -> " + db.open(id, "secret", true));

    String[][] people = {
      {"Ada", "London", "first programmer"},
      {"Grace", "New York", "compilers"},
      {"Alan", "London", "computability"},
      {"Zoë", "Zürich", "non-ASCII survives unchanged"},
    };
    for (String[] person : people) {
      System.out.println("write" + Arrays.toString(person) + " -> " + db.write(id, person));
    }
    System.out.println("write[Ada, ...] again -> " + db.write(id, new String[] {"Ada", "Paris", "x"})
        + "   (2: key already present)");
    System.out.println("numRecs -> " + db.numRecs(id));

    int[] london = db.find(id, new boolean[] {false, false}, new String[] {"", "london"});
    System.out.println("find city = \"london\" (any case) -> positions " + Arrays.toString(london));
    int[] partial = db.find(id, new boolean[] {true}, new String[] {"a"});
    System.out.println("find name contains \"a\" -> positions " + Arrays.toString(partial));
    for (int pos : partial) {
      System.out.println("  getRecord(" + pos + ") -> " + Arrays.toString(db.getRecord(id, pos)));
    }

    int grace = db.getPos(id, "Grace");
    System.out.println("getPos(Grace) -> " + grace);
    boolean updated = db.updateRecord(id, grace,
        new String[] {"Grace", "Arlington", "compilers, COBOL and the first bug report"});
    System.out.println("updateRecord(Grace, longer values) -> " + updated
        + ", now at " + db.getPos(id, "Grace"));
    System.out.println("getRecord(\"Grace\") -> " + Arrays.toString(db.getRecord(id, "Grace")));

    int alan = db.getPos(id, "Alan");
    System.out.println("deleteRecord(Alan at " + alan + ") -> " + db.deleteRecord(id, alan));
    System.out.println("numRecs -> " + db.numRecs(id));

    System.out.println("close -> " + db.close(id));
    System.out.println("open again -> " + db.open(id, "secret", true)
        + ", numRecs -> " + db.numRecs(id)
        + ", getRecord(\"Zoë\") -> " + Arrays.toString(db.getRecord(id, "Zoë")));
    System.out.println("close -> " + db.close(id) + ", unregister -> " + db.unregister(id));
    System.out.println("files: " + base + ".str/.dat/.idx");
  }
}
