package org.mero.db;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.file.Files;
import java.nio.file.Path;

/**
 * What the packaged side reads of a database's files itself: the schema block, before opening, to
 * compare it with the schema given; and the index, after opening, to know the live positions.
 * Both files start with a 32-bit little-endian count.
 */
final class StoredFiles {
  private StoredFiles() {}

  /**
   * The schema block at the start of a schema file, or null when the file is missing or empty.
   * Layout: field count N, then per field: indexed flag (1 byte), name length, name bytes. A
   * block that runs past the end of the file throws {@link DatabaseOpenException}.
   */
  static Schema readSchema(Path file) throws IOException {
    if (!Files.exists(file)) {
      return null;
    }
    ByteBuffer in = ByteBuffer.wrap(Files.readAllBytes(file)).order(ByteOrder.LITTLE_ENDIAN);
    if (!in.hasRemaining()) {
      return null;
    }
    int count = in.remaining() >= 4 ? in.getInt() : -1;
    // Each field takes at least 5 bytes: a count the file cannot hold is damage.
    if (count < 0 || count > in.remaining() / 5) {
      throw damaged(file);
    }
    Schema.Builder schema = Schema.builder();
    for (int i = 0; i < count; i++) {
      if (in.remaining() < 5) {
        throw damaged(file);
      }
      boolean indexed = in.get() != 0;
      int length = in.getInt();
      if (length < 0 || length > in.remaining()) {
        throw damaged(file);
      }
      try {
        schema.field(ModifiedUtf8.decode(in.array(), in.position(), length), indexed);
      } catch (IOException notModifiedUtf8) {
        throw damaged(file);
      }
      in.position(in.position() + length);
    }
    try {
      return schema.build();
    } catch (IllegalArgumentException repeatedName) {
      // The library accepts repeated names; fields found by name cannot be.
      throw new DatabaseOpenException(DatabaseOpenException.Reason.SCHEMA_MISMATCH,
          repeatedName.getMessage() + " in " + file, repeatedName);
    }
  }

  // The library would refuse such a file as well; say so before registering.
  private static DatabaseOpenException damaged(Path file) {
    return new DatabaseOpenException(DatabaseOpenException.Reason.REFUSED, "damaged schema block in " + file);
  }

  /** The positions of the live records: the count, then one entry per record. */
  static LivePositions readIndex(Path file) throws IOException {
    ByteBuffer in = ByteBuffer.wrap(Files.readAllBytes(file)).order(ByteOrder.LITTLE_ENDIAN);
    int count = in.remaining() >= 4 ? in.getInt() : 0;
    if (count < 0 || count > in.remaining() / 4) {
      throw new IOException("damaged index " + file);
    }
    int[] positions = new int[count];
    for (int i = 0; i < count; i++) {
      positions[i] = in.getInt();
    }
    LivePositions live = new LivePositions(positions);
    return live;
  }
}
