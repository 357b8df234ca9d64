package org.mero.db.moduletest;

import java.nio.file.Files;
import java.nio.file.Path;
import org.mero.db.Database;
import org.mero.db.Query;
import org.mero.db.Schema;

/** A program on the module path that requires org.mero.db: appends, finds, prints the version. */
public final class ModuleApp {
  private ModuleApp() {}

  public static void main(String[] args) throws Exception {
    Path dir = Files.createTempDirectory(Path.of(args[0]), "module-app");
    Schema schema = Schema.builder().field("name", true).field("city", true).build();
    try (Database db = Database.open(dir.resolve("people"), "", true, schema)) {
      db.batch(b -> b.append("Ada", "London").append("Alan", "Wilmslow"));
      System.out.println("found " + db.count(Query.where("name").startsWith("a")) + " with version "
          + Database.version() + " from " + Database.class.getModule());
    }
  }
}
