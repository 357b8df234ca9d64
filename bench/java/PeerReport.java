import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.LocalDate;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;

/**
 * Compares the engines' result files of one N: fails unless every engine gave the same answers,
 * then prints the table and writes results-N.md and results-N.dat (the chart's data).
 *
 * <p>Usage: PeerReport --n N --in DIR --results DIR [ENGINE...]; DIR holds ENGINE-N.tsv. The
 * first engine is this library, the one the ratios are for.
 */
public final class PeerReport {
  private static final String[][] PHASES = {
    {"append", "append one record"},
    {"read-by-key", "read whole record by key"},
    {"find-whole-indexed", "find whole value, indexed field (N/250 hits a term)"},
    {"find-substring-indexed", "find substring, indexed field"},
    {"find-substring-plain", "find substring, non-indexed field"},
    {"update-same-length", "update, same-length values"},
    {"update-longer", "update, longer values"},
    {"delete", "delete"},
    {"close", "close"},
    {"reopen-first-answer", "close + open + first answer"},
  };

  private PeerReport() {}

  public static void main(String[] args) throws Exception {
    int n = -1;
    Path in = null;
    Path results = null;
    List<String> engines = new ArrayList<>();
    for (int i = 0; i < args.length; i++) {
      switch (args[i]) {
        case "--n": n = Integer.parseInt(args[++i]); break;
        case "--in": in = Path.of(args[++i]); break;
        case "--results": results = Path.of(args[++i]); break;
        default: engines.add(args[i]);
      }
    }
    if (n < 0 || in == null || results == null) {
      throw new IllegalArgumentException("usage: PeerReport --n N --in DIR --results DIR [ENGINE...]");
    }
    if (engines.isEmpty()) {
      engines = List.of("mero", "sqlite", "h2");
    }
    List<EngineResult> runs = new ArrayList<>();
    for (String engine : engines) {
      runs.add(EngineResult.read(in.resolve(engine + "-" + n + ".tsv")));
    }
    int checks = compareAnswers(runs);
    String table = table(runs);
    System.out.println();
    System.out.print(table);
    System.out.println("All " + runs.size() + " engines gave the same answers (" + checks + " checks).");
    Files.createDirectories(results);
    Files.writeString(results.resolve("results-" + n + ".md"), markdown(n, runs, table, checks));
    Files.writeString(results.resolve("results-" + n + ".dat"), chartData(runs));
  }

  /** Every engine must give exactly the answers of the first; throws listing the differences. */
  private static int compareAnswers(List<EngineResult> runs) {
    EngineResult reference = runs.get(0);
    List<String> problems = new ArrayList<>();
    for (EngineResult other : runs.subList(1, runs.size())) {
      if (!other.info.get("n").equals(reference.info.get("n"))
          || !other.info.get("seed").equals(reference.info.get("seed"))
          || !other.info.get("mode").equals(reference.info.get("mode"))) {
        problems.add(other.engine + " ran another workload (n, seed or mode differ)");
      }
      for (String name : reference.answers.keySet()) {
        String mine = reference.answers.get(name);
        String theirs = other.answers.get(name);
        if (!mine.equals(theirs)) {
          problems.add(String.format("%s: %s answered [count digest] %s, %s answered %s",
              name, reference.engine, mine, other.engine, theirs));
        }
      }
      for (String name : other.answers.keySet()) {
        if (!reference.answers.containsKey(name)) {
          problems.add(name + ": only " + other.engine + " answered");
        }
      }
    }
    if (!problems.isEmpty()) {
      System.err.println("MISMATCH: the engines did not give the same answers:");
      problems.forEach(p -> System.err.println("  " + p));
      System.exit(2);
    }
    return reference.answers.size() * (runs.size() - 1);
  }

  private static String table(List<EngineResult> runs) {
    EngineResult mine = runs.get(0);
    StringBuilder t = new StringBuilder("| operation |");
    for (EngineResult r : runs) {
      t.append(' ').append(label(r.engine)).append(" ops/s |");
    }
    for (EngineResult r : runs.subList(1, runs.size())) {
      t.append(' ').append(label(mine.engine)).append(" / ").append(label(r.engine)).append(" |");
    }
    t.append("\n|---|");
    t.append("---:|".repeat(2 * runs.size() - 1)).append('\n');
    for (String[] phase : PHASES) {
      t.append("| ").append(phase[1]).append(" |");
      for (EngineResult r : runs) {
        t.append(' ').append(rate(r.opsPerSecond(phase[0]))).append(" |");
      }
      for (EngineResult r : runs.subList(1, runs.size())) {
        t.append(String.format(Locale.ROOT, " %.2f |", mine.opsPerSecond(phase[0]) / r.opsPerSecond(phase[0])));
      }
      t.append('\n');
    }
    t.append("| peak memory (VmHWM), MiB |");
    for (EngineResult r : runs) {
      t.append(String.format(Locale.ROOT, " %.1f |", r.memoryKib.get("peak-rss") / 1024.0));
    }
    ratios(t, runs, r -> (double) r.memoryKib.get("peak-rss"));
    t.append("| files after close, MiB |");
    for (EngineResult r : runs) {
      t.append(String.format(Locale.ROOT, " %.2f |", r.fileBytes / 1048576.0));
    }
    ratios(t, runs, r -> (double) r.fileBytes);
    return t.toString();
  }

  private static void ratios(StringBuilder t, List<EngineResult> runs,
      java.util.function.ToDoubleFunction<EngineResult> value) {
    double mine = value.applyAsDouble(runs.get(0));
    for (EngineResult r : runs.subList(1, runs.size())) {
      t.append(String.format(Locale.ROOT, " %.2f |", mine / value.applyAsDouble(r)));
    }
    t.append('\n');
  }

  private static String markdown(int n, List<EngineResult> runs, String table, int checks) throws IOException {
    StringBuilder md = new StringBuilder();
    EngineResult mine = runs.get(0);
    md.append("# ").append(label(mine.engine)).append(" and its peers, N = ").append(n).append(" records\n\n");
    md.append("Run on ").append(LocalDate.now()).append(", ").append(machine()).append(", ")
        .append(mine.info.get("java")).append(", ").append(mine.info.get("mode")).append(" mode, seed ")
        .append(mine.info.get("seed")).append(". Each engine ran in its own JVM.\n\n");
    md.append("Engines: ");
    for (int i = 0; i < runs.size(); i++) {
      EngineResult r = runs.get(i);
      md.append(i == 0 ? "" : "; ").append(label(r.engine)).append(' ').append(r.info.get("version"))
          .append(" (").append(setup(r.engine)).append(')');
    }
    md.append(".\n\nOperations per second (higher is better); a ratio above 1 means ")
        .append(label(mine.engine)).append(" is faster, or for memory and files, uses more.\n\n");
    md.append(table);
    md.append("\nAll engines gave the same answers (").append(checks)
        .append(" checks of found keys, in order, and of whole contents after each change).\n\n");
    md.append("Requests timed per engine (ops in seconds):\n\n| operation |");
    for (EngineResult r : runs) {
      md.append(' ').append(label(r.engine)).append(" |");
    }
    md.append("\n|---|").append("---:|".repeat(runs.size())).append('\n');
    for (String[] phase : PHASES) {
      md.append("| ").append(phase[1]).append(" |");
      for (EngineResult r : runs) {
        md.append(String.format(Locale.ROOT, " %d in %.4f s |", r.phaseOps.get(phase[0])[0],
            r.phaseSeconds.get(phase[0])));
      }
      md.append('\n');
    }
    md.append("\nPeak memory is the whole JVM's (VmHWM: Java heap and native memory, the engine's own");
    md.append(" included; each JVM had the same options). Live Java heap while open, MiB:");
    for (EngineResult r : runs) {
      md.append(String.format(Locale.ROOT, " %s %.1f;", label(r.engine), r.memoryKib.get("live-heap-open") / 1024.0));
    }
    md.setLength(md.length() - 1);
    md.append(".\n\nClose alone, microseconds per close:");
    for (EngineResult r : runs) {
      md.append(String.format(Locale.ROOT, " %s %.0f;", label(r.engine), 1e6 / r.opsPerSecond("close")));
    }
    md.setLength(md.length() - 1);
    md.append(".\n\n![operations per second](results-").append(n).append(".png)\n");
    return md.toString();
  }

  private static String chartData(List<EngineResult> runs) {
    StringBuilder d = new StringBuilder("operation");
    for (EngineResult r : runs) {
      d.append('\t').append(label(r.engine));
    }
    d.append('\n');
    for (String[] phase : PHASES) {
      d.append(phase[0]);
      for (EngineResult r : runs) {
        d.append(String.format(Locale.ROOT, "\t%.3f", r.opsPerSecond(phase[0])));
      }
      d.append('\n');
    }
    return d.toString();
  }

  private static String label(String engine) {
    switch (engine) {
      case "mero": return "MERO";
      case "sqlite": return "SQLite";
      case "h2": return "H2";
      default: return engine;
    }
  }

  private static String setup(String engine) {
    switch (engine) {
      case "mero": return "JNI, MERO_SYNC=" + syncMode() + ", fields 0 and 1 indexed, key index on";
      case "sqlite": return "xerial JDBC, WAL, synchronous=OFF, UNIQUE key, NOCASE index on the city,"
          + " substrings by LIKE";
      case "h2": return "file mode, autocommit, default WRITE_DELAY, no result reuse, UNIQUE key,"
          + " VARCHAR_IGNORECASE columns, index on the city, substrings by LOCATE(term, UPPER(column))";
      default: return "";
    }
  }

  /** The mode the library ran in: the report runs in the same environment as the engines. */
  private static String syncMode() {
    String mode = System.getenv("MERO_SYNC");
    return mode == null ? "unset (CLOSE)" : mode;
  }

  private static String rate(double opsPerSecond) {
    return opsPerSecond >= 100 ? String.format(Locale.ROOT, "%,.0f", opsPerSecond)
        : String.format(Locale.ROOT, "%.1f", opsPerSecond);
  }

  private static String machine() throws IOException {
    String cpu = "unknown CPU";
    Path info = Path.of("/proc/cpuinfo");
    if (Files.exists(info)) {
      for (String line : Files.readAllLines(info)) {
        if (line.startsWith("model name")) {
          cpu = line.substring(line.indexOf(':') + 1).trim();
          break;
        }
      }
    }
    return cpu + ", " + Runtime.getRuntime().availableProcessors() + " cores";
  }
}
