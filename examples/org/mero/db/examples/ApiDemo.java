package org.mero.db.examples;

import java.nio.file.Files;
import java.nio.file.Path;
import org.mero.db.Database;
import org.mero.db.DuplicateKeyException;
import org.mero.db.Query;
import org.mero.db.Schema;

/** The same tour as Demo, through the packaged API from a named package. */
public final class ApiDemo {
  private ApiDemo() {}

  public static void main(String[] args) throws Exception {
    Path dir = args.length > 0 ? Path.of(args[0]) : Files.createTempDirectory("mero-api-demo");
    Files.createDirectories(dir);
    Path base = dir.resolve("people-api");
    for (String ext : new String[] {".str", ".dat", ".idx"}) {
      Files.deleteIfExists(Path.of(base + ext));
    }

    Schema schema = Schema.builder().field("name", true).field("city", true).field("note", false).build();
    try (Database db = Database.open(base, "secret", true, schema)) {
      System.out.println("open " + db);
      String[][] people = {
        {"Ada", "London", "first programmer"},
        {"Grace", "New York", "compilers"},
        {"Alan", "London", "computability"},
        {"Zoë", "Zürich", "non-ASCII survives unchanged"},
      };
      for (String[] person : people) {
        System.out.println("append " + String.join(", ", person) + " -> position " + db.append(person));
      }
      int[] batch = db.batch(b -> b.append("Hedy", "Vienna", "frequency hopping").append("Edsger", "Rotterdam", ""));
      System.out.println("batch of two appends -> positions " + java.util.Arrays.toString(batch));
      try {
        db.append("Ada", "Paris", "x");
      } catch (DuplicateKeyException e) {
        System.out.println("append Ada again -> " + e.getMessage());
      }
      System.out.println("size -> " + db.size());

      Query londonA = Query.where("city").is("LONDON").and("name").contains("a");
      System.out.println("find " + londonA + " -> " + db.findRecords(londonA));
      Query startsWithE = Query.where("name").startsWith("e").or(Query.where("city").is("vienna"));
      System.out.println("stream " + startsWithE + " -> " + db.stream(startsWithE).toList());
      System.out.println("records() -> " + db.records().map(r -> r.get("name")).toList());

      int grace = db.positionOf("Grace").orElseThrow();
      int moved = db.update(grace, "Grace", "Arlington", "compilers, COBOL and the first bug report").orElseThrow();
      System.out.println("update Grace at " + grace + " (longer values) -> now at " + moved
          + ", old position reads " + db.get(grace));
      System.out.println("get(\"Grace\").get(\"city\") -> " + db.get("Grace").orElseThrow().get("city"));

      int alan = db.positionOf("Alan").orElseThrow();
      System.out.println("delete Alan -> " + db.delete(alan) + ", again -> " + db.delete(alan));
      System.out.println("size -> " + db.size());
    }
    try (Database db = Database.open(base, "secret", true)) {
      System.out.println("open again with the stored schema " + db.schema() + " -> " + db.get("Zoë").orElseThrow());
    }
    System.out.println("files: " + base + ".str/.dat/.idx");
  }
}
