import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.LinkedHashMap;
import java.util.Map;

/** One engine's result file (see ResultLog), read back. */
final class EngineResult {
  final String engine;
  final Map<String, String> info = new LinkedHashMap<>();
  final Map<String, long[]> phaseOps = new LinkedHashMap<>();      // ops, rounds
  final Map<String, Double> phaseSeconds = new LinkedHashMap<>();
  final Map<String, String> answers = new LinkedHashMap<>();        // "count digest"
  final Map<String, Long> memoryKib = new LinkedHashMap<>();
  long fileBytes = -1;

  private EngineResult(String engine) {
    this.engine = engine;
  }

  static EngineResult read(Path file) throws IOException {
    EngineResult r = null;
    for (String line : Files.readAllLines(file)) {
      String[] c = line.split("\t");
      if (r == null) {
        if (!c[0].equals("info") || !c[1].equals("engine")) {
          throw new IOException(file + ": does not start with its engine");
        }
        r = new EngineResult(c[2]);
      }
      switch (c[0]) {
        case "info": r.info.put(c[1], c[2]); break;
        case "phase":
          r.phaseOps.put(c[1], new long[] {Long.parseLong(c[2]), Long.parseLong(c[4])});
          r.phaseSeconds.put(c[1], Double.parseDouble(c[3]));
          break;
        case "answer": r.answers.put(c[1], c[2] + " " + c[3]); break;
        case "memory": r.memoryKib.put(c[1], Long.parseLong(c[2])); break;
        case "files": r.fileBytes = Long.parseLong(c[1]); break;
        default: throw new IOException(file + ": unknown line " + line);
      }
    }
    if (r == null || r.fileBytes < 0) {
      throw new IOException(file + ": incomplete (did the run fail?)");
    }
    return r;
  }

  double opsPerSecond(String phase) {
    return phaseOps.get(phase)[0] / phaseSeconds.get(phase);
  }
}
