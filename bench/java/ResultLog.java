import java.io.IOException;
import java.io.PrintWriter;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Locale;

/**
 * The tab-separated result file of one engine's run, read back by PeerReport:
 *   info    NAME  VALUE
 *   phase   NAME  OPS  SECONDS  ROUNDS
 *   answer  NAME  COUNT  DIGEST   (must be equal for every engine)
 *   memory  NAME  KIB
 *   files   BYTES
 * Each phase is also echoed to the console as it ends.
 */
final class ResultLog implements AutoCloseable {
  private final PrintWriter out;
  private final String engine;

  ResultLog(Path file, String engine) throws IOException {
    Files.createDirectories(file.toAbsolutePath().getParent());
    this.out = new PrintWriter(Files.newBufferedWriter(file));
    this.engine = engine;
  }

  void info(String name, Object value) {
    out.println("info\t" + name + "\t" + value);
  }

  void phase(String name, long ops, long nanos, int rounds) {
    double seconds = nanos / 1e9;
    out.println(String.format(Locale.ROOT, "phase\t%s\t%d\t%.6f\t%d", name, ops, seconds, rounds));
    out.flush();
    System.out.println(String.format(Locale.ROOT, "%-7s %-24s %9d ops %8.3f s %12.1f ops/s",
        engine, name, ops, seconds, ops / seconds));
  }

  void answer(String name, AnswerDigest digest) {
    out.println("answer\t" + name + "\t" + digest.count() + "\t" + digest.hex());
  }

  void memory(String name, long kib) {
    out.println("memory\t" + name + "\t" + kib);
  }

  void files(long bytes) {
    out.println("files\t" + bytes);
  }

  @Override
  public void close() {
    out.close();
  }
}
