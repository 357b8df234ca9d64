import java.util.ArrayList;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Locale;

/**
 * The records and queries that every engine gets, generated from a seed so that each JVM builds
 * exactly the same ones without storing them. Record i is a pure function of (seed, i).
 *
 * <p>Fields: 0 a unique key, 1 a city (a few hundred values, indexed), 2 a person's name, 3 a
 * note of a few words (not indexed), 4 an amount. Values are ASCII letters, digits, spaces and
 * a few punctuation marks, never a LIKE wildcard, so every engine's case folding agrees.
 */
final class Workload {
  static final int FIELDS = 5;
  static final String[] FIELD_NAMES = {"key", "city", "name", "note", "amount"};
  static final int CITY_FIELD = 1;
  static final int NOTE_FIELD = 3;

  private static final String[] SYLLABLES = {
    "ba", "ber", "ca", "dor", "el", "fa", "gan", "hol", "is", "ja", "kel", "lin", "mo", "nar",
    "os", "pra", "quin", "ros", "sal", "tor", "ul", "ven", "wes", "xa", "yor", "zen", "an", "bri",
    "cor", "dun", "est", "fel", "gri", "ham", "ith", "lok", "mer", "nis", "ord", "pel"
  };
  private static final int CITY_COUNT = 250;
  private static final int WORD_COUNT = 400;

  final int n;
  final long seed;
  private final String[] cities;
  private final String[] words;

  Workload(int n, long seed) {
    this.n = n;
    this.seed = seed;
    Rng rng = new Rng(seed);
    cities = distinctNames(rng, CITY_COUNT, 2, 3, true);
    words = distinctNames(rng, WORD_COUNT, 1, 3, false);
  }

  /** A key unique among all records: i scrambled by a bijection modulo a prime, so not sorted. */
  String key(int i) {
    long scrambled = (i * 48271L + 12345L) % 2147483647L;
    return String.format(Locale.ROOT, "K%010d", scrambled);
  }

  String[] record(int i) {
    Rng rng = new Rng(seed ^ (0x9E3779B97F4A7C15L * (i + 1)));
    String city = cities[rng.below(cities.length)];
    String name = capitalise(syllables(rng, 2, 3)) + " " + capitalise(syllables(rng, 2, 4));
    StringBuilder note = new StringBuilder();
    int wordCount = 3 + rng.below(4);
    for (int w = 0; w < wordCount; w++) {
      if (w > 0) {
        note.append(' ');
      }
      note.append(words[rng.below(words.length)]);
    }
    String amount = rng.below(100000) + "." + String.format(Locale.ROOT, "%02d", rng.below(100));
    return new String[] {key(i), city, name, note.toString(), amount};
  }

  /** The same record with every non-key value rotated by one character: same lengths. */
  static String[] sameLengthUpdate(String[] record) {
    String[] updated = record.clone();
    for (int f = 1; f < FIELDS; f++) {
      String v = record[f];
      updated[f] = v.isEmpty() ? v : v.substring(1) + v.charAt(0);
    }
    return updated;
  }

  /** The same record with every non-key value made longer, so the record outgrows its space. */
  static String[] longerUpdate(String[] record) {
    String[] updated = record.clone();
    updated[1] = record[1] + " North";
    updated[2] = record[2] + " Junior";
    updated[3] = record[3] + " (revised twice)";
    updated[4] = record[4] + "0";
    return updated;
  }

  /** Distinct record numbers in a seeded random order, `count` of them. */
  int[] sample(String purpose, int count) {
    Rng rng = new Rng(seed ^ purpose.hashCode());
    int[] all = new int[n];
    for (int i = 0; i < n; i++) {
      all[i] = i;
    }
    count = Math.min(count, n);
    for (int i = 0; i < count; i++) {
      int j = i + rng.below(n - i);
      int t = all[i];
      all[i] = all[j];
      all[j] = t;
    }
    int[] picked = new int[count];
    System.arraycopy(all, 0, picked, 0, count);
    return picked;
  }

  /** Cities in a mix of letter cases, to be matched as whole values. */
  List<String> cityTerms(int count) {
    Rng rng = new Rng(seed ^ 0x11);
    List<String> terms = new ArrayList<>();
    for (int i = 0; i < count; i++) {
      terms.add(mixCase(rng, cities[rng.below(cities.length)]));
    }
    return terms;
  }

  /** Three-letter pieces of cities, in a mix of letter cases, to be matched as substrings. */
  List<String> cityPieces(int count) {
    Rng rng = new Rng(seed ^ 0x22);
    List<String> terms = new ArrayList<>();
    for (int i = 0; i < count; i++) {
      String city = cities[rng.below(cities.length)];
      int start = rng.below(city.length() - 2);
      terms.add(mixCase(rng, city.substring(start, start + 3)));
    }
    return terms;
  }

  /** Whole note words in a mix of letter cases, to be matched as substrings of the note. */
  List<String> noteWords(int count) {
    Rng rng = new Rng(seed ^ 0x33);
    List<String> terms = new ArrayList<>();
    for (int i = 0; i < count; i++) {
      String word = words[rng.below(words.length)];
      if (word.length() < 4) {
        i--;  // short words match inside too many longer ones
        continue;
      }
      terms.add(mixCase(rng, word));
    }
    return terms;
  }

  private static String[] distinctNames(Rng rng, int count, int min, int max, boolean capital) {
    LinkedHashSet<String> names = new LinkedHashSet<>();
    while (names.size() < count) {
      String s = syllables(rng, min, max);
      names.add(capital ? capitalise(s) : s);
    }
    return names.toArray(new String[0]);
  }

  private static String syllables(Rng rng, int min, int max) {
    StringBuilder s = new StringBuilder();
    int count = min + rng.below(max - min + 1);
    for (int k = 0; k < count; k++) {
      s.append(SYLLABLES[rng.below(SYLLABLES.length)]);
    }
    return s.toString();
  }

  private static String capitalise(String s) {
    return Character.toUpperCase(s.charAt(0)) + s.substring(1);
  }

  private static String mixCase(Rng rng, String s) {
    switch (rng.below(3)) {
      case 0:
        return s.toUpperCase(Locale.ROOT);
      case 1:
        return s.toLowerCase(Locale.ROOT);
      default:
        StringBuilder b = new StringBuilder(s);
        for (int i = 0; i < b.length(); i += 2) {
          b.setCharAt(i, Character.toUpperCase(b.charAt(i)));
        }
        return b.toString();
    }
  }
}
