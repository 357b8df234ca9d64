import java.nio.file.Files;
import java.nio.file.Path;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.stream.Stream;

/**
 * Runs the whole workload on one engine in this JVM and writes its result file.
 *
 * <p>Usage: PeerBenchmark --engine mero|sqlite|h2 --n N --dir DATA_DIR --out FILE [--quick]
 * [--seed S]. DATA_DIR must be empty or absent; it holds the engine's files.
 *
 * <p>Only the engine calls are timed: records, keys and terms are made beforehand, and the
 * answers are checked afterwards with untimed calls, digested for PeerReport to compare.
 */
public final class PeerBenchmark {
  private static long sink;  // keeps timed results alive

  private final BenchEngine engine;
  private final Workload workload;
  private final RunSettings settings;
  private final ResultLog log;

  private PeerBenchmark(BenchEngine engine, Workload workload, RunSettings settings, ResultLog log) {
    this.engine = engine;
    this.workload = workload;
    this.settings = settings;
    this.log = log;
  }

  public static void main(String[] args) throws Exception {
    String engineName = null;
    int n = 10000;
    Path dir = null;
    Path out = null;
    boolean quick = false;
    long seed = 20240607L;
    for (int i = 0; i < args.length; i++) {
      switch (args[i]) {
        case "--engine": engineName = args[++i]; break;
        case "--n": n = Integer.parseInt(args[++i]); break;
        case "--dir": dir = Path.of(args[++i]); break;
        case "--out": out = Path.of(args[++i]); break;
        case "--quick": quick = true; break;
        case "--seed": seed = Long.parseLong(args[++i]); break;
        default: throw new IllegalArgumentException("unknown argument " + args[i]);
      }
    }
    if (engineName == null || dir == null || out == null || n < 10) {
      throw new IllegalArgumentException(
          "usage: PeerBenchmark --engine mero|sqlite|h2 --n N(>=10) --dir DATA_DIR --out FILE [--quick] [--seed S]");
    }
    Files.createDirectories(dir);
    try (Stream<Path> existing = Files.list(dir)) {
      if (existing.findAny().isPresent()) {
        throw new IllegalStateException(dir + " is not empty");
      }
    }
    BenchEngine engine = engineNamed(engineName, dir);
    long startRss = ProcessMemory.kib("VmRSS");
    try (ResultLog log = new ResultLog(out, engineName)) {
      log.info("engine", engineName);
      log.info("n", n);
      log.info("seed", seed);
      log.info("mode", quick ? "quick" : "full");
      log.info("java", System.getProperty("java.vm.name") + " " + System.getProperty("java.version"));
      log.memory("rss-at-start", startRss);
      new PeerBenchmark(engine, new Workload(n, seed), quick ? RunSettings.quick(n) : RunSettings.full(n), log)
          .run(dir);
    }
    System.out.println(engineName + " done (" + sink % 10 + ")");
  }

  private static BenchEngine engineNamed(String name, Path dir) {
    switch (name) {
      case "mero": return new MeroEngine(dir);
      case "sqlite": return new SqliteEngine(dir);
      case "h2": return new H2Engine(dir);
      default: throw new IllegalArgumentException("unknown engine " + name);
    }
  }

  private void run(Path dir) throws Exception {
    engine.open();
    log.info("version", engine.version());
    append();
    readByKey();
    findWhole();
    findSubstring("find-substring-indexed", Workload.CITY_FIELD, workload.cityPieces(settings.cityPieces));
    findSubstring("find-substring-plain", Workload.NOTE_FIELD, workload.noteWords(settings.noteWords));
    int[] changed = workload.sample("update", 2 * settings.updates);
    int half = changed.length / 2;
    update("update-same-length", changed, 0, half, true);
    update("update-longer", changed, half, changed.length, false);
    checkUpdatedCities(changed, half);
    Set<Integer> deleted = delete();
    reopen(deleted);
    log.memory("live-heap-open", ProcessMemory.liveHeapKib());
    engine.close();
    log.memory("peak-rss", ProcessMemory.kib("VmHWM"));
    log.files(directorySize(dir));
  }

  private void append() throws Exception {
    long nanos = 0;
    for (int from = 0; from < workload.n; from += settings.appendBatch) {
      int to = Math.min(workload.n, from + settings.appendBatch);
      String[][] batch = new String[to - from][];
      for (int i = from; i < to; i++) {
        batch[i - from] = workload.record(i);
      }
      long t0 = System.nanoTime();
      for (String[] record : batch) {
        engine.append(record);
      }
      nanos += System.nanoTime() - t0;
    }
    log.phase("append", workload.n, nanos, 1);
    expectCount(workload.n);
    contents("contents-after-append");
  }

  private void readByKey() throws Exception {
    int[] picked = workload.sample("read", settings.keysPerRound);
    String[] keys = new String[picked.length];
    for (int i = 0; i < picked.length; i++) {
      keys[i] = workload.key(picked[i]);
    }
    repeat("read-by-key", keys.length, i -> engine.readByKey(keys[i])[0].length());
    AnswerDigest digest = new AnswerDigest();
    for (int i = 0; i < keys.length; i++) {
      String[] record = engine.readByKey(keys[i]);
      expect(record != null && java.util.Arrays.equals(record, workload.record(picked[i])),
          "read by key " + keys[i] + " returned the record as written");
      digest.addRecord(record);
    }
    log.answer("read-by-key", digest);
  }

  private void findWhole() throws Exception {
    List<String> terms = workload.cityTerms(settings.cityTerms);
    repeat("find-whole-indexed", terms.size(),
        i -> engine.findWhole(Workload.CITY_FIELD, terms.get(i)).length);
    for (int i = 0; i < terms.size(); i++) {
      answerKeys("find-whole-indexed/" + i, engine.findWhole(Workload.CITY_FIELD, terms.get(i)));
    }
  }

  private void findSubstring(String phase, int field, List<String> terms) throws Exception {
    repeat(phase, terms.size(), i -> engine.findSubstring(field, terms.get(i)).length);
    for (int i = 0; i < terms.size(); i++) {
      answerKeys(phase + "/" + i, engine.findSubstring(field, terms.get(i)));
    }
  }

  private void update(String phase, int[] changed, int from, int to, boolean sameLength) throws Exception {
    long[] handles = new long[to - from];
    String[][] values = new String[to - from][];
    for (int i = from; i < to; i++) {
      handles[i - from] = engine.handleOf(workload.key(changed[i]));
      String[] record = workload.record(changed[i]);
      values[i - from] = sameLength ? Workload.sameLengthUpdate(record) : Workload.longerUpdate(record);
    }
    long t0 = System.nanoTime();
    for (int i = 0; i < handles.length; i++) {
      engine.update(handles[i], values[i]);
    }
    log.phase(phase, handles.length, System.nanoTime() - t0, 1);
    for (int i = 0; i < handles.length; i++) {
      String[] read = engine.readByKey(values[i][0]);
      expect(java.util.Arrays.equals(read, values[i]), phase + " of " + values[i][0] + " reads back");
    }
    expectCount(workload.n);
    contents("contents-after-" + phase);
  }

  /** The search structures follow updates: old city values go, new ones are found. */
  private void checkUpdatedCities(int[] changed, int half) throws Exception {
    if (changed.length < 2) {
      return;
    }
    String rotated = Workload.sameLengthUpdate(workload.record(changed[0]))[Workload.CITY_FIELD];
    String longer = Workload.longerUpdate(workload.record(changed[half]))[Workload.CITY_FIELD];
    answerKeys("after-update/whole-rotated", engine.findWhole(Workload.CITY_FIELD, rotated.toLowerCase()));
    answerKeys("after-update/whole-longer", engine.findWhole(Workload.CITY_FIELD, longer.toUpperCase()));
    answerKeys("after-update/substring-north", engine.findSubstring(Workload.CITY_FIELD, "nORTH"));
    answerKeys("after-update/substring-revised", engine.findSubstring(Workload.NOTE_FIELD, "REVISED TWICE"));
  }

  private Set<Integer> delete() throws Exception {
    int[] picked = workload.sample("delete", settings.deletes);
    long[] handles = new long[picked.length];
    Set<Integer> deleted = new HashSet<>();
    for (int i = 0; i < picked.length; i++) {
      handles[i] = engine.handleOf(workload.key(picked[i]));
      deleted.add(picked[i]);
    }
    long t0 = System.nanoTime();
    for (long handle : handles) {
      engine.delete(handle);
    }
    log.phase("delete", handles.length, System.nanoTime() - t0, 1);
    for (int i : picked) {
      expect(engine.readByKey(workload.key(i)) == null, "deleted key " + workload.key(i) + " is gone");
    }
    expectCount(workload.n - picked.length);
    contents("contents-after-delete");
    answerKeys("after-delete/substring-plain",
        engine.findSubstring(Workload.NOTE_FIELD, workload.noteWords(1).get(0)));
    return deleted;
  }

  /**
   * Close, open and the first answer, timed together: what a restarted application waits for.
   * The close is also timed on its own: it is where an engine may finish deferred writes.
   */
  private void reopen(Set<Integer> deleted) throws Exception {
    int live = 0;
    while (deleted.contains(live)) {
      live++;
    }
    String key = workload.key(live);
    long nanos = 0;
    long closeNanos = 0;
    int rounds = 0;
    while (rounds < settings.minReopens || (nanos < settings.minSeconds * 1e9 && rounds < settings.maxRounds)) {
      long t0 = System.nanoTime();
      engine.close();
      long closed = System.nanoTime();
      engine.open();
      String[] first = engine.readByKey(key);
      long t1 = System.nanoTime();
      closeNanos += closed - t0;
      nanos += t1 - t0;
      expect(first != null && first[0].equals(key), "first answer after reopening");
      rounds++;
    }
    log.phase("close", rounds, closeNanos, rounds);
    log.phase("reopen-first-answer", rounds, nanos, rounds);
    contents("contents-after-reopen");
  }

  interface Request {
    long run(int i) throws Exception;
  }

  /**
   * Runs requests 0..count-1 in whole rounds until the minimum time or the round limit. Request
   * 0 runs once untimed first, so that no engine's first statement preparation or compilation is
   * charged to a short phase.
   */
  private void repeat(String phase, int count, Request request) throws Exception {
    sink += request.run(0);
    long nanos = 0;
    int rounds = 0;
    do {
      long t0 = System.nanoTime();
      for (int i = 0; i < count; i++) {
        sink += request.run(i);
      }
      nanos += System.nanoTime() - t0;
      rounds++;
    } while (nanos < settings.minSeconds * 1e9 && rounds < settings.maxRounds);
    log.phase(phase, (long) count * rounds, nanos, rounds);
  }

  private void answerKeys(String name, long[] handles) throws Exception {
    AnswerDigest digest = new AnswerDigest();
    for (long handle : handles) {
      digest.add(engine.keyAt(handle));
    }
    log.answer(name, digest);
  }

  private void contents(String name) throws Exception {
    AnswerDigest digest = new AnswerDigest();
    engine.forEachRecord(digest::addRecord);
    log.answer(name, digest);
  }

  private void expectCount(int expected) throws Exception {
    int count = engine.count();
    expect(count == expected, "record count " + count + " == " + expected);
  }

  private void expect(boolean ok, String what) {
    if (!ok) {
      throw new IllegalStateException(engine.name() + ": expected " + what);
    }
  }

  private static long directorySize(Path dir) throws Exception {
    try (Stream<Path> files = Files.walk(dir)) {
      return files.filter(Files::isRegularFile).mapToLong(p -> p.toFile().length()).sum();
    }
  }
}
