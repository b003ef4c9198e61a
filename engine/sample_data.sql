-- Sample sales data for the bucket folder beside the bundle. Run by the engine program in
-- that folder at build time. Every value comes from a fixed-seed integer generator and the
-- writes run on one thread in a fixed order, so each build writes the same bytes.
SET threads = 1;

-- A 32-bit integer hash of (row, stream, seed) scaled to [0, 1): plain integer arithmetic,
-- so the same numbers on every machine and engine version.
CREATE MACRO mix(x) AS (xor(x >> 16, x) * 73244475) % 4294967296;
CREATE MACRO rnd(i, k) AS
  xor(mix(mix((i * 1000003 + k * 7919 + 20240101) % 4294967296)) >> 16,
      mix(mix((i * 1000003 + k * 7919 + 20240101) % 4294967296))) / 4294967296.0;

CREATE TABLE products (product_category VARCHAR, product VARCHAR, base_price DOUBLE);
INSERT INTO products VALUES
  ('Electronics', 'Laptop', 1199.00),
  ('Electronics', 'Smartphone', 799.00),
  ('Electronics', 'Tablet', 449.00),
  ('Electronics', 'Headphones', 149.00),
  ('Electronics', 'Monitor', 279.00),
  ('Furniture', 'Office Chair', 229.00),
  ('Furniture', 'Standing Desk', 549.00),
  ('Furniture', 'Bookshelf', 139.00),
  ('Furniture', 'Desk Lamp', 39.00),
  ('Office Supplies', 'Printer Paper', 24.99),
  ('Office Supplies', 'Ballpoint Pens', 8.49),
  ('Office Supplies', 'Stapler', 14.99),
  ('Office Supplies', 'Notebook', 5.99),
  ('Clothing', 'Rain Jacket', 89.00),
  ('Clothing', 'T-Shirt', 19.00),
  ('Clothing', 'Running Shoes', 119.00);
CREATE TABLE numbered_products AS
  SELECT row_number() OVER (ORDER BY product_category, product) - 1 AS n, * FROM products;

CREATE TABLE regions (n INTEGER, region VARCHAR);
INSERT INTO regions VALUES (0, 'North'), (1, 'South'), (2, 'East'), (3, 'West'), (4, 'North East');

CREATE TABLE raw_sales AS
SELECT
  i,
  DATE '2023-01-01' + CAST(floor(rnd(i, 1) * 731) AS INTEGER) AS sale_date,
  CAST(floor(rnd(i, 2) * 5) AS INTEGER) AS region_n,
  CAST(floor(rnd(i, 3) * 16) AS INTEGER) AS product_n,
  1 + CAST(floor(rnd(i, 4) * rnd(i, 5) * 10) AS INTEGER) AS quantity,
  0.85 + rnd(i, 6) * 0.3 AS price_factor,
  'C' || lpad(CAST(1 + CAST(floor(rnd(i, 7) * 400) AS INTEGER) AS VARCHAR), 4, '0') AS customer_id,
  CAST(floor(rnd(i, 8) * 3) AS INTEGER) AS channel_n
FROM range(1, 3201) AS t(i);

CREATE TABLE sales AS
SELECT
  CAST(100000 + row_number() OVER (ORDER BY s.sale_date, s.i) AS INTEGER) AS order_id,
  s.sale_date,
  r.region,
  p.product_category,
  p.product,
  s.quantity,
  round(p.base_price * s.price_factor, 2) AS unit_price,
  round(s.quantity * round(p.base_price * s.price_factor, 2), 2) AS sale_amount,
  s.customer_id,
  CASE s.channel_n WHEN 0 THEN 'Online' WHEN 1 THEN 'Store' ELSE 'Partner' END AS channel
FROM raw_sales s
JOIN regions r ON r.n = s.region_n
JOIN numbered_products p ON p.n = s.product_n;

-- One file per year and region, in both formats; "north east" puts a blank in a file name.
COPY (SELECT * FROM sales WHERE year(sale_date) = 2023 AND region = 'North' ORDER BY order_id) TO '2023/north.csv' (FORMAT CSV, HEADER);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2023 AND region = 'South' ORDER BY order_id) TO '2023/south.csv' (FORMAT CSV, HEADER);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2023 AND region = 'East' ORDER BY order_id) TO '2023/east.csv' (FORMAT CSV, HEADER);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2023 AND region = 'West' ORDER BY order_id) TO '2023/west.csv' (FORMAT CSV, HEADER);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2023 AND region = 'North East' ORDER BY order_id) TO '2023/north east.csv' (FORMAT CSV, HEADER);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2024 AND region = 'North' ORDER BY order_id) TO '2024/north.csv' (FORMAT CSV, HEADER);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2024 AND region = 'South' ORDER BY order_id) TO '2024/south.csv' (FORMAT CSV, HEADER);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2024 AND region = 'East' ORDER BY order_id) TO '2024/east.csv' (FORMAT CSV, HEADER);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2024 AND region = 'West' ORDER BY order_id) TO '2024/west.csv' (FORMAT CSV, HEADER);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2024 AND region = 'North East' ORDER BY order_id) TO '2024/north east.csv' (FORMAT CSV, HEADER);

COPY (SELECT * FROM sales WHERE year(sale_date) = 2023 AND region = 'North' ORDER BY order_id) TO '2023/north.parquet' (FORMAT PARQUET);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2023 AND region = 'South' ORDER BY order_id) TO '2023/south.parquet' (FORMAT PARQUET);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2023 AND region = 'East' ORDER BY order_id) TO '2023/east.parquet' (FORMAT PARQUET);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2023 AND region = 'West' ORDER BY order_id) TO '2023/west.parquet' (FORMAT PARQUET);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2023 AND region = 'North East' ORDER BY order_id) TO '2023/north east.parquet' (FORMAT PARQUET);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2024 AND region = 'North' ORDER BY order_id) TO '2024/north.parquet' (FORMAT PARQUET);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2024 AND region = 'South' ORDER BY order_id) TO '2024/south.parquet' (FORMAT PARQUET);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2024 AND region = 'East' ORDER BY order_id) TO '2024/east.parquet' (FORMAT PARQUET);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2024 AND region = 'West' ORDER BY order_id) TO '2024/west.parquet' (FORMAT PARQUET);
COPY (SELECT * FROM sales WHERE year(sale_date) = 2024 AND region = 'North East' ORDER BY order_id) TO '2024/north east.parquet' (FORMAT PARQUET);
