package org.mero.db;

import java.io.ByteArrayInputStream;
import java.io.DataInputStream;
import java.io.IOException;

/**
 * The bytes the library stores for a Java string: modified UTF-8, as JNI's GetStringUTFChars yields
 * it (U+0000 as two bytes, supplementary characters as two three-byte surrogates).
 */
final class ModifiedUtf8 {
  private ModifiedUtf8() {}

  static long length(String text) {
    long bytes = text.length();
    for (int i = 0; i < text.length(); i++) {
      char c = text.charAt(i);
      if (c >= 0x800) {
        bytes += 2;
      } else if (c >= 0x80 || c == 0) {
        bytes += 1;
      }
    }
    return bytes;
  }

  /** Decodes bytes[offset, offset + length); DataInputStream reads this encoding. */
  static String decode(byte[] bytes, int offset, int length) throws IOException {
    if (length > 0xFFFF) {
      throw new IOException("name of " + length + " bytes");
    }
    byte[] framed = new byte[length + 2];
    framed[0] = (byte) (length >>> 8);
    framed[1] = (byte) length;
    System.arraycopy(bytes, offset, framed, 2, length);
    return new DataInputStream(new ByteArrayInputStream(framed)).readUTF();
  }
}
