package org.mero.db;

/** The checks on arguments that every public method shares. */
final class Arguments {
  private Arguments() {}

  /** The argument itself, or IllegalArgumentException naming it when it is null. */
  static <T> T present(T argument, String name) {
    if (argument == null) {
      throw new IllegalArgumentException(name + " is null");
    }
    return argument;
  }
}
