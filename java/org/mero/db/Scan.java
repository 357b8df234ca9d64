package org.mero.db;

import java.util.Arrays;
import java.util.function.Consumer;

/**
 * Reads the records that match a query in record order, a chunk per call of the library, each
 * chunk under one hold of its lock. A chunk resumes after the latest record of the previous one
 * that still stands where it was read, so records that other threads delete before the scan
 * reaches them shift nothing past it, and a record that an update moved is not skipped (when it
 * was in the previous chunk, it is read again with its new values).
 */
final class Scan {
  /** What a scan hands out: a record and the position it was read at. */
  interface Sink {
    void accept(int position, String[] values);
  }

  private static final int FIRST_CHUNK = 256;
  private static final int LARGEST_CHUNK = 16384;

  private final Database db;
  private final Query query;
  private final Query.NativeTerms terms;
  private int[] anchors = new int[0];
  private final int[] epoch = {-1};  // the database's compactions when the anchors were read
  private int resumeAt;
  private int chunk = FIRST_CHUNK;
  private long remaining;
  private boolean done;

  Scan(Database db, Query query) {
    this.db = db;
    this.query = query;
    this.terms = query.resolve(db.schema());
    this.remaining = query.limit();
    this.done = remaining == 0;
  }

  /** Hands the next chunk's matching records to sink; false once there are no more. */
  boolean next(Sink sink) {
    if (done) {
      return false;
    }
    int[] positions = new int[chunk];
    int[] next = new int[1];
    String[][] records = db.scanChunk(terms.partial(), terms.terms(), anchors, epoch, resumeAt, chunk, positions,
        next);
    done = records.length < chunk;
    anchors = Arrays.copyOf(positions, records.length);
    resumeAt = next[0];
    // Later chunks cost a find each: fewer, larger ones for long scans.
    chunk = Math.min(LARGEST_CHUNK, chunk * 2);
    for (int i = 0; i < records.length && remaining > 0; i++) {
      if (terms.exact() || query.matches(db.schema(), records[i])) {
        sink.accept(positions[i], records[i]);
        remaining--;
      }
    }
    done |= remaining == 0;
    return true;
  }

  /** Hands every matching record to sink. */
  void forEach(Sink sink) {
    while (next(sink)) {
      // next does the work
    }
  }

  /** Adapts a record consumer to a sink. */
  static Sink records(Schema schema, Consumer<? super Record> action) {
    return (position, values) -> action.accept(new Record(schema, values));
  }
}
