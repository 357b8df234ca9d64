import java.io.FileDescriptor;
import java.io.FileOutputStream;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.Random;
import org.mero.db.Database;

/**
 * The child process of BatchKillTest: appends batches of records through the packaged API until it
 * is killed. Before each batch it prints "B", the batch's name and size; after it, "A" and the name.
 * The records of batch NAME have first values NAME/0, NAME/1, ...
 *
 * <p>Usage: BatchWorker BASE RUN_TAG SEED
 */
public final class BatchWorker {
  private BatchWorker() {}

  public static void main(String[] args) {
    Random random = new Random(Long.parseLong(args[2]));
    PrintStream out = new PrintStream(new FileOutputStream(FileDescriptor.out), false, StandardCharsets.US_ASCII);
    try (Database db = Database.open(Path.of(args[0]), TestDatabases.KEY, true)) {
      out.println("READY " + db.size());
      out.flush();
      for (int n = 0; ; n++) {
        String name = args[1] + "-" + n;
        int size = 1 + random.nextInt(300);
        out.println("B\t" + name + "\t" + size);
        out.flush();
        db.batch(b -> {
          for (int i = 0; i < size; i++) {
            b.append(name + "/" + i, "city" + i % 50, "note");
          }
        });
        out.println("A\t" + name);
        out.flush();
      }
    }
  }
}
