package org.mero.db;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;

/**
 * A search: terms on fields, all of which a record must match, or several such sets joined with
 * {@link #or}. Letters A to Z match their lower case; other characters match only themselves.
 * Instances are immutable and can be reused.
 *
 * <pre>{@code
 * Query q = Query.where("city").is("london").and("name").startsWith("ad")
 *     .or(Query.where("note").contains("engine"))
 *     .limit(10);
 * }</pre>
 *
 * <p>An empty term constrains nothing: {@code is("")} matches every record, and so does
 * {@link #all()}. Terms on indexed fields are answered from memory; terms on other fields read
 * the candidate records. A {@code startsWith} term is looked up as a substring and then checked
 * on the records found.
 */
public final class Query {
  private enum Kind { IS, CONTAINS, STARTS_WITH }

  private record Term(String field, String text, Kind kind) {}

  private final List<List<Term>> branches;  // any branch; within one, every term
  private final long limit;

  private Query(List<List<Term>> branches, long limit) {
    this.branches = branches;
    this.limit = limit;
  }

  /**
   * Starts a query with a term on a field.
   *
   * @param field the field's name
   * @return the condition to complete with {@link Condition#is}, {@link Condition#contains} or
   *     {@link Condition#startsWith}
   * @throws IllegalArgumentException if {@code field} is null
   */
  public static Condition where(String field) {
    return new Condition(new Query(List.of(List.of()), Long.MAX_VALUE), Arguments.present(field, "field"));
  }

  /**
   * The query that every record matches.
   *
   * @return a query without terms
   */
  public static Query all() {
    return new Query(List.of(List.of()), Long.MAX_VALUE);
  }

  /**
   * Adds a term on another field; after {@link #or}, to each of the joined queries.
   *
   * @param field the field's name
   * @return the condition to complete
   * @throws IllegalArgumentException if {@code field} is null
   */
  public Condition and(String field) {
    return new Condition(this, Arguments.present(field, "field"));
  }

  /**
   * Joins another query: a record matches when it matches either. The result keeps the smaller
   * of the two limits.
   *
   * @param other the other query
   * @return the joined query
   * @throws IllegalArgumentException if {@code other} is null
   */
  public Query or(Query other) {
    List<List<Term>> joined = new ArrayList<>(branches);
    joined.addAll(Arguments.present(other, "other").branches);
    return new Query(Collections.unmodifiableList(joined), Math.min(limit, other.limit));
  }

  /**
   * Keeps at most the first {@code count} matching records, in record order.
   *
   * @param count the most records to answer
   * @return the query with this limit
   * @throws IllegalArgumentException if {@code count} is negative
   */
  public Query limit(long count) {
    if (count < 0) {
      throw new IllegalArgumentException("limit " + count + " is negative");
    }
    return new Query(branches, count);
  }

  /** A field waiting for its term. */
  public static final class Condition {
    private final Query before;
    private final String field;

    private Condition(Query before, String field) {
      this.before = before;
      this.field = field;
    }

    /**
     * Matches records whose value of the field equals the text, ignoring ASCII case.
     *
     * @param text the whole value to match
     * @return the query with this term added
     * @throws IllegalArgumentException if {@code text} is null
     */
    public Query is(String text) {
      return with(text, Kind.IS);
    }

    /**
     * Matches records whose value of the field contains the text, ignoring ASCII case.
     *
     * @param text the substring to look for
     * @return the query with this term added
     * @throws IllegalArgumentException if {@code text} is null
     */
    public Query contains(String text) {
      return with(text, Kind.CONTAINS);
    }

    /**
     * Matches records whose value of the field starts with the text, ignoring ASCII case.
     *
     * @param text the prefix to look for
     * @return the query with this term added
     * @throws IllegalArgumentException if {@code text} is null
     */
    public Query startsWith(String text) {
      return with(text, Kind.STARTS_WITH);
    }

    private Query with(String text, Kind kind) {
      Term term = new Term(field, Arguments.present(text, "text"), kind);
      List<List<Term>> branches = new ArrayList<>();
      for (List<Term> branch : before.branches) {
        List<Term> terms = new ArrayList<>(branch);
        terms.add(term);
        branches.add(Collections.unmodifiableList(terms));
      }
      return new Query(Collections.unmodifiableList(branches), before.limit);
    }
  }

  /**
   * The library's form: per branch, term i applies to field i, unused fields get an empty term;
   * {@code exact} when the library's answer needs no check here.
   */
  record NativeTerms(boolean[][] partial, String[][] terms, boolean exact) {}

  NativeTerms resolve(Schema schema) {
    boolean[][] partial = new boolean[branches.size()][];
    String[][] texts = new String[branches.size()][];
    boolean exact = branches.size() == 1;
    for (int b = 0; b < branches.size(); b++) {
      List<Term> branch = branches.get(b);
      int[] fields = new int[branch.size()];
      int width = 0;
      for (int t = 0; t < fields.length; t++) {
        fields[t] = schema.indexOf(branch.get(t).field());
        width = Math.max(width, fields[t] + 1);
        exact &= branch.get(t).kind() != Kind.STARTS_WITH;
      }
      partial[b] = new boolean[width];
      texts[b] = new String[width];
      Arrays.fill(texts[b], "");
      for (int t = 0; t < fields.length; t++) {
        for (int u = 0; u < t; u++) {
          if (fields[u] == fields[t]) {
            throw new IllegalArgumentException("more than one term on field " + branch.get(t).field());
          }
        }
        partial[b][fields[t]] = branch.get(t).kind() != Kind.IS;
        texts[b][fields[t]] = branch.get(t).text();
      }
    }
    return new NativeTerms(partial, texts, exact);
  }

  long limit() {
    return limit;
  }

  /** Whether the values match some branch; the library has already matched them roughly. */
  boolean matches(Schema schema, String[] values) {
    for (List<Term> branch : branches) {
      boolean all = true;
      for (Term term : branch) {
        String value = upper(values[schema.indexOf(term.field())]);
        String text = upper(term.text());
        all &= switch (term.kind()) {
          case IS -> value.equals(text);
          case CONTAINS -> value.contains(text);
          case STARTS_WITH -> value.startsWith(text);
        };
      }
      if (all) {
        return true;
      }
    }
    return false;
  }

  private static String upper(String text) {
    char[] chars = text.toCharArray();
    for (int i = 0; i < chars.length; i++) {
      if (chars[i] >= 'a' && chars[i] <= 'z') {
        chars[i] -= 'a' - 'A';
      }
    }
    return new String(chars);
  }

  /**
   * The terms, for example {@code city is "london" and name starts with "ad"}.
   *
   * @return a readable form of the query
   */
  @Override
  public String toString() {
    StringBuilder text = new StringBuilder();
    for (List<Term> branch : branches) {
      text.append(text.length() > 0 ? " or " : "").append(branches.size() > 1 ? "(" : "");
      int start = text.length();
      for (Term term : branch) {
        String kind = switch (term.kind()) {
          case IS -> " is \"";
          case CONTAINS -> " contains \"";
          case STARTS_WITH -> " starts with \"";
        };
        text.append(text.length() > start ? " and " : "").append(term.field()).append(kind).append(term.text())
            .append('"');
      }
      text.append(text.length() == start ? "all" : "").append(branches.size() > 1 ? ")" : "");
    }
    return text.append(limit < Long.MAX_VALUE ? " limit " + limit : "").toString();
  }
}
