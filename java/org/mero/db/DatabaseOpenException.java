package org.mero.db;

/** A database that could not be opened, with the reason when it is known. */
public final class DatabaseOpenException extends DatabaseException {
  private static final long serialVersionUID = 1L;

  /** Why an open failed. */
  public enum Reason {
    /** The folder of the base path does not exist. */
    FOLDER_MISSING,
    /** One of the database's files exists but cannot be read. */
    FILE_NOT_READABLE,
    /** The stored schema differs from the one given, or none is stored and none was given. */
    SCHEMA_MISMATCH,
    /** The library refused the files: the message names the file and what is wrong with it. */
    REFUSED,
    /** The files are open in another handle, or a tool is rewriting them. */
    LOCKED
  }

  /** Why the open failed. */
  private final Reason reason;

  /**
   * Creates the exception.
   *
   * @param reason why the open failed
   * @param message the details
   */
  public DatabaseOpenException(Reason reason, String message) {
    super(message);
    this.reason = reason;
  }

  /**
   * Creates the exception with its cause.
   *
   * @param reason why the open failed
   * @param message the details
   * @param cause the underlying failure
   */
  public DatabaseOpenException(Reason reason, String message, Throwable cause) {
    super(message, cause);
    this.reason = reason;
  }

  /**
   * Why the open failed.
   *
   * @return the reason
   */
  public Reason reason() {
    return reason;
  }
}
