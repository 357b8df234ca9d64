import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Locale;

/**
 * One point of the scale curve: this library with N records of the peer workload, opened
 * afresh. Builds the database once (kept in --dir, so later runs reuse it), then opens it
 * several times and reports, per open, the CPU time and wall time of open + first answer, the
 * resident memory the open added, and the file sizes. Run by hand (see run_scale_point.sh):
 * at ten million records it takes minutes and gigabytes.
 */
final class ScalePoint {
  public static void main(String[] args) throws Exception {
    int n = 10_000_000;
    Path dir = null;
    int opens = 3;
    for (int i = 0; i < args.length; i++) {
      switch (args[i]) {
        case "--n" -> n = Integer.parseInt(args[++i]);
        case "--dir" -> dir = Path.of(args[++i]);
        case "--opens" -> opens = Integer.parseInt(args[++i]);
        default -> throw new IllegalArgumentException("unknown argument " + args[i]);
      }
    }
    if (dir == null) {
      throw new IllegalArgumentException("--dir is required");
    }
    Files.createDirectories(dir);
    Workload workload = new Workload(n, 20240607L);
    MeroEngine engine = new MeroEngine(dir);
    boolean fresh = !Files.exists(dir.resolve("records.str"));
    engine.open();
    if (fresh || engine.count() != n) {
      if (!fresh) {
        throw new IllegalStateException(dir + " holds another database; remove it first");
      }
      long t0 = System.nanoTime();
      for (int i = 0; i < n; i++) {
        engine.append(workload.record(i));
        if (i % 1_000_000 == 999_999) {
          System.err.printf(Locale.ROOT, "appended %,d%n", i + 1);
        }
      }
      System.err.printf(Locale.ROOT, "built %,d records in %.1f s%n", n, (System.nanoTime() - t0) / 1e9);
    }
    engine.close();

    ThreadMXBean threads = ManagementFactory.getThreadMXBean();
    String key = workload.key(n / 2);
    String city = workload.record(n / 2)[1];
    System.out.printf(Locale.ROOT, "records\t%d%n", n);
    for (String ext : new String[] {".dat", ".idx", ".str"}) {
      System.out.printf(Locale.ROOT, "file%s MiB\t%.2f%n", ext, Files.size(dir.resolve("records" + ext)) / 1048576.0);
    }
    for (int round = 0; round < opens; round++) {
      System.gc();
      long rssBefore = ProcessMemory.kib("VmRSS");
      long cpu0 = threads.getCurrentThreadCpuTime();
      long wall0 = System.nanoTime();
      engine.open();
      String[] first = engine.readByKey(key);
      long wall = System.nanoTime() - wall0;
      long cpu = threads.getCurrentThreadCpuTime() - cpu0;
      long rssAfter = ProcessMemory.kib("VmRSS");
      if (first == null || !first[0].equals(key)) {
        throw new IllegalStateException("first answer after opening is wrong");
      }
      System.out.printf(Locale.ROOT,
          "open %d\tcpu %.1f ms\twall %.1f ms\tcpu per 100,000 records %.2f ms\tresident added %.1f B per record\tpeak %.0f MiB%n",
          round + 1, cpu / 1e6, wall / 1e6, cpu / 1e6 * 100_000 / n, (rssAfter - rssBefore) * 1024.0 / n,
          ProcessMemory.kib("VmHWM") / 1024.0);
      // The first whole-value find on a field may build that field's index.
      long[] findCpu = new long[2];
      for (int f = 0; f < 2; f++) {
        long findCpu0 = threads.getCurrentThreadCpuTime();
        engine.findWhole(1, city);
        findCpu[f] = threads.getCurrentThreadCpuTime() - findCpu0;
      }
      System.out.printf(Locale.ROOT, "find %d\tfirst whole-value find cpu %.1f ms\tthe next %.2f ms%n", round + 1,
          findCpu[0] / 1e6, findCpu[1] / 1e6);
      engine.close();
    }
  }
}
