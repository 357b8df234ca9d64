package org.mero.db;

/** A failure of the database that the caller could not have ruled out beforehand. */
public class DatabaseException extends RuntimeException {
  private static final long serialVersionUID = 1L;

  /**
   * Creates the exception.
   *
   * @param message what failed
   */
  public DatabaseException(String message) {
    super(message);
  }

  /**
   * Creates the exception with its cause.
   *
   * @param message what failed
   * @param cause the underlying failure
   */
  public DatabaseException(String message, Throwable cause) {
    super(message, cause);
  }
}
