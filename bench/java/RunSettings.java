/**
 * How much work each phase does for a database of n records. Phases that change nothing repeat
 * a fixed list of requests in whole rounds until they have run for a minimum time, so every
 * engine answers the same requests whatever its speed; phases that change records do a fixed
 * number of changes.
 */
final class RunSettings {
  final double minSeconds;   // per phase that repeats rounds
  final int maxRounds;
  final int keysPerRound;    // reads by key
  final int cityTerms;       // whole-value finds on the city
  final int cityPieces;      // substring finds on the city
  final int noteWords;       // substring finds on the note
  final int updates;         // per kind of update
  final int deletes;
  final int minReopens;
  final int appendBatch;     // records generated, untimed, before each timed batch

  private RunSettings(double minSeconds, int maxRounds, int keysPerRound, int cityTerms,
      int cityPieces, int noteWords, int updates, int deletes, int minReopens) {
    this.minSeconds = minSeconds;
    this.maxRounds = maxRounds;
    this.keysPerRound = keysPerRound;
    this.cityTerms = cityTerms;
    this.cityPieces = cityPieces;
    this.noteWords = noteWords;
    this.updates = updates;
    this.deletes = deletes;
    this.minReopens = minReopens;
    this.appendBatch = 10000;
  }

  /** Long enough to measure: about two seconds or more per phase. */
  static RunSettings full(int n) {
    int changes = Math.max(1, Math.min(n / 10, 10000));
    return new RunSettings(2.0, 100000, Math.min(n, 10000), 20, 10, 10, changes, changes, 3);
  }

  /** Only shows that everything runs and every engine agrees. */
  static RunSettings quick(int n) {
    int changes = Math.max(1, Math.min(n / 20, 200));
    return new RunSettings(0.05, 3, Math.min(n, 500), 5, 4, 4, changes, changes, 2);
  }
}
