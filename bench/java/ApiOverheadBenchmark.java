import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import org.mero.db.Database;
import org.mero.db.Query;
import org.mero.db.Schema;

/**
 * The cost of the packaged API (org.mero.db) over direct DatabaseMarshall calls: append, read by
 * key and find a whole value on an indexed field, on two databases of the same records in one
 * JVM. Each phase runs in chunks of 100 operations that alternate between the two paths (direct
 * then API, API then direct, ...); the overhead is the median, over each four chunks in a row
 * (direct, API, API, direct), of the API's time over the direct time: a busy shared machine
 * disturbs that far less than totals, and each path runs first and second equally often. The two
 * databases trade places every round (each is closed and opened again by the other path), since
 * one of two identical databases can be faster than the other for as long as it stays open. The
 * first rounds warm the JIT and are not counted.
 *
 * <p>With --control the second path is DatabaseMarshall on its own database too: the figures then
 * show how far two identical paths differ on this machine.
 *
 * <p>Usage: ApiOverheadBenchmark --dir DIR [--n RECORDS] [--rounds R] [--ops OPS] [--warmup W]
 * [--control]
 */
final class ApiOverheadBenchmark {
  private static final String KEY = "bench-key-7";
  private static final int CHUNK = 100;
  private static final String[] PHASES = {
    "append one record", "read whole record by key", "find whole value, indexed field"
  };

  private final DatabaseMarshall marshall = new DatabaseMarshall();
  private final boolean control;
  private final Path[] bases = new Path[2];
  private final int[] ids = new int[2];
  private int id;
  private int controlId;
  private Database api;
  private long sink;

  private ApiOverheadBenchmark(boolean control) {
    this.control = control;
  }

  public static void main(String[] args) throws Exception {
    Path dir = null;
    int n = 100_000;
    int rounds = 23;
    int ops = 5_000;
    int warmup = 3;
    boolean control = false;
    for (int i = 0; i < args.length; i++) {
      switch (args[i]) {
        case "--dir" -> dir = Path.of(args[++i]);
        case "--n" -> n = Integer.parseInt(args[++i]);
        case "--rounds" -> rounds = Integer.parseInt(args[++i]);
        case "--ops" -> ops = Integer.parseInt(args[++i]);
        case "--warmup" -> warmup = Integer.parseInt(args[++i]);
        case "--control" -> control = true;
        default -> throw new IllegalArgumentException("unknown option " + args[i]);
      }
    }
    if (dir == null || ops % (2 * CHUNK) != 0) {
      throw new IllegalArgumentException("--dir is required, and --ops must be a multiple of " + 2 * CHUNK);
    }
    new ApiOverheadBenchmark(control).run(dir, n, rounds, ops, Math.min(warmup, rounds - 1));
  }

  private void run(Path dir, int n, int rounds, int ops, int warmup) throws Exception {
    Workload work = new Workload(n + rounds * ops, 42);
    boolean[] indexed = new boolean[Workload.FIELDS];
    indexed[0] = true;
    indexed[Workload.CITY_FIELD] = true;
    Schema.Builder schema = Schema.builder();
    for (int f = 0; f < Workload.FIELDS; f++) {
      schema.field(Workload.FIELD_NAMES[f], indexed[f]);
    }
    for (int d = 0; d < 2; d++) {
      bases[d] = dir.resolve("db" + d + "/records");
      Files.createDirectories(bases[d].getParent());
      ids[d] = marshall.register(bases[d].toString());
      check(marshall.define(ids[d], indexed, Workload.FIELD_NAMES) && marshall.open(ids[d], KEY, true), "open");
    }
    for (int i = 0; i < n; i++) {
      String[][] record = {work.record(i)};
      appendDirect(ids[0], record, 0, 1);
      appendDirect(ids[1], record, 0, 1);
    }
    List<String> cities = work.cityTerms(ops);

    int chunks = ops / CHUNK;
    int counted = (rounds - warmup) * chunks;
    // nanos[phase][path][chunk]; path 0 direct, 1 the API (or the control).
    long[][][] nanos = new long[PHASES.length][2][counted];
    for (int round = 0; round < rounds; round++) {
      trade(round % 2, schema.build());
      String[][] batch = new String[ops][];
      String[] keys = new String[ops];
      for (int j = 0; j < ops; j++) {
        batch[j] = work.record(n + round * ops + j);
        keys[j] = work.key((int) ((round * (long) ops + j) * 7919 % (n + round * ops)));
      }
      for (int phase = 0; phase < PHASES.length; phase++) {
        for (int c = 0; c < chunks; c++) {
          int from = c * CHUNK;
          int to = Math.min(ops, from + CHUNK);
          for (int k = 0; k < 2; k++) {
            int path = (c + k) % 2;
            long time = switch (phase) {
              case 0 -> path == 0 ? appendDirect(id, batch, from, to) : second(batch, from, to, 0);
              case 1 -> path == 0 ? readDirect(id, keys, from, to) : second(keys, from, to, 1);
              default -> path == 0 ? findDirect(id, cities, from, to) : second(cities, from, to, 2);
            };
            if (round >= warmup) {
              nanos[phase][path][(round - warmup) * chunks + c] = time;
            }
          }
        }
      }
    }
    check(marshall.numRecs(id) == (control ? marshall.numRecs(controlId) : api.size()), "equal record counts");

    System.out.printf(Locale.ROOT, "%d records at the start, %d rounds of %d operations per phase, %d warm-up rounds"
        + " not counted%s%n", n, rounds, ops, warmup, control ? "; CONTROL: both paths are DatabaseMarshall" : "");
    System.out.println("| operation | DatabaseMarshall ops/s | " + (control ? "control" : "org.mero.db")
        + " ops/s | overhead (median of 4-chunk runs) | overhead (totals) |");
    System.out.println("|---|---:|---:|---:|---:|");
    for (int p = 0; p < PHASES.length; p++) {
      double[] ratios = new double[counted / 2];
      for (int i = 0; i < ratios.length; i++) {
        ratios[i] = (double) (nanos[p][1][2 * i] + nanos[p][1][2 * i + 1]) / (nanos[p][0][2 * i] + nanos[p][0][2 * i + 1]);
      }
      Arrays.sort(ratios);
      long direct = Arrays.stream(nanos[p][0]).sum();
      long second = Arrays.stream(nanos[p][1]).sum();
      double opsCounted = (double) (rounds - warmup) * ops;
      System.out.printf(Locale.ROOT, "| %s | %,.0f | %,.0f | %+.1f%% | %+.1f%% |%n", PHASES[p], opsCounted * 1e9 / direct,
          opsCounted * 1e9 / second, (ratios[ratios.length / 2] - 1) * 100, ((double) second / direct - 1) * 100);
    }
    System.out.println("(checksum " + sink + ")");
    if (api != null) {
      api.close();
    }
    marshall.unregister(ids[0]);
    marshall.unregister(ids[1]);
  }

  /** Opens database d for the direct path and the other one for the API (or the control). */
  private void trade(int d, Schema schema) {
    if (api != null) {
      api.close();
      api = null;
    }
    marshall.close(ids[0]);
    marshall.close(ids[1]);
    id = ids[d];
    check(marshall.open(id, KEY, true), "open direct");
    if (control) {
      controlId = ids[1 - d];
      check(marshall.open(controlId, KEY, true), "open control");
    } else {
      api = Database.open(bases[1 - d], KEY, true, schema);
    }
  }

  @SuppressWarnings("unchecked")
  private long second(Object work, int from, int to, int phase) {
    if (control) {
      return switch (phase) {
        case 0 -> appendDirect(controlId, (String[][]) work, from, to);
        case 1 -> readDirect(controlId, (String[]) work, from, to);
        default -> findDirect(controlId, (List<String>) work, from, to);
      };
    }
    return switch (phase) {
      case 0 -> appendApi((String[][]) work, from, to);
      case 1 -> readApi((String[]) work, from, to);
      default -> findApi((List<String>) work, from, to);
    };
  }

  private long appendDirect(int db, String[][] batch, int from, int to) {
    long start = System.nanoTime();
    for (int i = from; i < to; i++) {
      if (marshall.write(db, batch[i]) != 0) {
        throw new IllegalStateException("write failed");
      }
    }
    return System.nanoTime() - start;
  }

  private long appendApi(String[][] batch, int from, int to) {
    long start = System.nanoTime();
    for (int i = from; i < to; i++) {
      sink += api.append(batch[i]);
    }
    return System.nanoTime() - start;
  }

  private long readDirect(int db, String[] keys, int from, int to) {
    long start = System.nanoTime();
    for (int i = from; i < to; i++) {
      sink += marshall.getRecord(db, keys[i])[Workload.CITY_FIELD].length();
    }
    return System.nanoTime() - start;
  }

  private long readApi(String[] keys, int from, int to) {
    long start = System.nanoTime();
    for (int i = from; i < to; i++) {
      sink += api.get(keys[i]).orElseThrow().get(Workload.CITY_FIELD).length();
    }
    return System.nanoTime() - start;
  }

  private long findDirect(int db, List<String> cities, int from, int to) {
    long start = System.nanoTime();
    for (int i = from; i < to; i++) {
      sink += marshall.find(db, new boolean[] {false, false}, new String[] {"", cities.get(i)}).length;
    }
    return System.nanoTime() - start;
  }

  private long findApi(List<String> cities, int from, int to) {
    String field = Workload.FIELD_NAMES[Workload.CITY_FIELD];
    long start = System.nanoTime();
    for (int i = from; i < to; i++) {
      sink += api.find(Query.where(field).is(cities.get(i))).length;
    }
    return System.nanoTime() - start;
  }

  private static void check(boolean ok, String what) {
    if (!ok) {
      throw new IllegalStateException(what + " failed");
    }
  }
}
