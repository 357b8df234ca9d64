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
   * Layout: field count N, then per field: indexed flag (1 byte), name length, name bytes.
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
      throw new IOException("damaged schema block in " + file);
    }
    Schema.Builder schema = Schema.builder();
    for (int i = 0; i < count; i++) {
      if (in.remaining() < 5) {
        throw new IOException("damaged schema block in " + file);
      }
      boolean indexed = in.get() != 0;
      int length = in.getInt();
      if (length < 0 || length > in.remaining()) {
        throw new IOException("damaged schema block in " + file);
      }
      schema.field(ModifiedUtf8.decode(in.array(), in.position(), length), indexed);
      in.position(in.position() + length);
    }
    return schema.build();
  }

  /** The positions of the live records: the count, then one entry per record. */
  static LivePositions readIndex(Path file) throws IOException {
    ByteBuffer in = ByteBuffer.wrap(Files.readAllBytes(file)).order(ByteOrder.LITTLE_ENDIAN);
    int count = in.remaining() >= 4 ? in.getInt() : 0;
    if (count < 0 || count > in.remaining() / 4) {
      throw new IOException("damaged index " + file);
    }
    LivePositions live = new LivePositions(count);
    for (int i = 0; i < count; i++) {
      live.add(in.getInt());
    }
    return live;
  }
}
