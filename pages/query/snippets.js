// The templates of the Examples menu, by the menu's values.
export function getSnippets() {
  return {
    schema: 'DESCRIBE SELECT * FROM {path-to-files}',
    select: "SELECT *\nFROM {path-to-files}\nWHERE column_name = 'value'\nLIMIT 10",
    agg:
      'SELECT \n    product_category,\n    COUNT(*) AS total_sales,\n    COUNT(*) FILTER (WHERE sale_amount > 100) AS high_value_sales,\n    -- Now you can directly use the alias \'high_value_sales\' in a new calculation\n    ROUND(100.0 * high_value_sales / total_sales, 2) AS high_value_percentage\nFROM {path-to-files}\nWHERE sale_amount > 0\nGROUP BY product_category;',
    range:
      "SELECT\n    CASE\n        WHEN column_name < 30000 THEN '< 30k'\n        WHEN column_name < 50000 THEN '30k-50k'\n        WHEN column_name < 70000 THEN '50k-70k'\n        WHEN column_name < 90000 THEN '70k-90k'\n        ELSE '90k+'\n    END AS bucket,\n    COUNT(*) AS total\nFROM {path-to-files}\nGROUP BY bucket\nORDER BY bucket;",
    dategroup:
      "SELECT\n    CAST(DATE_TRUNC('month', timestamp_column) AS DATE) AS month,\n    COUNT(*) AS total\nFROM {path-to-files}\nGROUP BY month\nORDER BY month;\n\n-- Other options: 'year', 'quarter', 'month', 'week', 'day', 'hour'",
    filter: 'SELECT DISTINCT column_name\nFROM {path-to-files}\nORDER BY column_name;',
    join: 'SELECT a.*, b.other_col\nFROM {path-to-files} a\nJOIN {path-to-files} b\n  ON a.id = b.id\nLIMIT 10',
  };
}
