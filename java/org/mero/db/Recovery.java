package org.mero.db;

import java.util.List;

/**
 * What an open took back after a power cut or an operating-system crash, from
 * {@link Database#recovery()}. Such a failure can leave the end of a file missing or zero-filled,
 * or an index entry or count on the disk before the record bytes it names. Open then comes back
 * at a consistent point in time, dropping only the records whose bytes never reached the disk,
 * and writes the repaired index back, so the next open finds nothing to do. Damage that no power
 * cut can cause is not taken back: the open fails with {@link DatabaseOpenException.Reason#REFUSED}.
 *
 * @param storedCount the record count the index file held
 * @param missingEntries entries that count named past the end of the index file
 * @param keptCount the records live after the recovery
 * @param schemaIncomplete whether the schema never arrived whole (the database held no records;
 *     it is undefined until a schema is given again)
 * @param dropped the index entries dropped, in record order
 * @param summary one line: how many records were kept and why the others went
 */
public record Recovery(int storedCount, int missingEntries, int keptCount, boolean schemaIncomplete,
    List<Dropped> dropped, String summary) {

  /** Why an entry was dropped. */
  public enum Reason {
    /** An entry of zeros: the index file grew, but its bytes never came. */
    ZERO_FILLED_ENTRY,
    /** A position listed earlier too: a delete was cut short. */
    REPEATED_POSITION,
    /** The record's bytes start or run past the end of the data file. */
    PAST_DATA_END,
    /** The record's bytes never reached the disk (zeros). */
    ZERO_FILLED_IMAGE
  }

  /**
   * One dropped index entry.
   *
   * @param recordNumber its number in the index file as stored
   * @param position the position it named
   * @param reason why it was dropped
   */
  public record Dropped(int recordNumber, int position, Reason reason) {}

  /**
   * Creates the report; the list is copied.
   *
   * @param storedCount the record count the index file held
   * @param missingEntries entries that count named past the end of the index file
   * @param keptCount the records live after the recovery
   * @param schemaIncomplete whether the schema never arrived whole
   * @param dropped the index entries dropped, in record order
   * @param summary one line: how many records were kept and why the others went
   */
  public Recovery {
    dropped = List.copyOf(dropped);
  }

  /**
   * Whether open took nothing back.
   *
   * @return true when nothing was dropped
   */
  public boolean isEmpty() {
    return missingEntries == 0 && dropped.isEmpty() && !schemaIncomplete;
  }
}
