package org.mero.db;

/**
 * A record the library could not store: a write to the files failed, or the data file would grow
 * past 2^31 - 1 bytes. The database is unchanged and stays usable.
 */
public final class RecordNotStoredException extends DatabaseException {
  private static final long serialVersionUID = 1L;

  /**
   * Creates the exception.
   *
   * @param message what could not be stored
   */
  public RecordNotStoredException(String message) {
    super(message);
  }
}
