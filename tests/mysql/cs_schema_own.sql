-- The CS database's 20 tables, for test servers when the shared fixtures
-- are not at hand. Written from the schema description; the same tables,
-- columns, order, types, keys and indexes as a real CS DB. Character set:
-- whatever the database was created with.

CREATE TABLE IF NOT EXISTS `dbversion` (
  `dbid` VARCHAR(10) NOT NULL,
  `ver` INT NULL,
  PRIMARY KEY (`dbid`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `options` (
  `opt_id` INT NOT NULL,
  `opt_name` VARCHAR(100) NULL,
  `opt_value` VARCHAR(510) NULL,
  PRIMARY KEY (`opt_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `office` (
  `office_id` INT NOT NULL,
  `office_name` VARCHAR(100) NULL,
  `biz_no` VARCHAR(12) NULL,
  `ceo_name` VARCHAR(40) NULL,
  `address` VARCHAR(200) NULL,
  `tel` VARCHAR(20) NULL,
  `fax` VARCHAR(20) NULL,
  PRIMARY KEY (`office_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `local_user` (
  `user_id` VARCHAR(20) NOT NULL,
  `user_name` VARCHAR(40) NULL,
  `passwd` VARCHAR(100) NULL,
  `office_id` INT NULL,
  `is_admin` TINYINT UNSIGNED NULL,
  PRIMARY KEY (`user_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `customer` (
  `cust_id` INT NOT NULL,
  `cust_code` VARCHAR(20) NULL,
  `cust_name` VARCHAR(100) NULL,
  `biz_no` VARCHAR(12) NULL,
  `ceo_name` VARCHAR(40) NULL,
  `tel` VARCHAR(20) NULL,
  `mobile` VARCHAR(20) NULL,
  `address` VARCHAR(200) NULL,
  `email` VARCHAR(50) NULL,
  `memo` TEXT NULL,
  `credit_limit` DOUBLE NULL,
  `reg_date` DATETIME NULL,
  PRIMARY KEY (`cust_id`),
  UNIQUE KEY `cust_code` (`cust_code`),
  KEY `cust_name` (`cust_name`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `pclass` (
  `class_id` INT NOT NULL,
  `class_name` VARCHAR(60) NULL,
  `parent_id` INT NULL,
  PRIMARY KEY (`class_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `product_m` (
  `prod_id` INT NOT NULL,
  `prod_code` VARCHAR(20) NULL,
  `prod_name` VARCHAR(120) NULL,
  `class_id` INT NULL,
  `spec` VARCHAR(80) NULL,
  `unit` VARCHAR(20) NULL,
  `price_in` DOUBLE NULL,
  `price_out` DOUBLE NULL,
  `tax_type` TINYINT UNSIGNED NULL,
  `stock_qty` DOUBLE NULL,
  `lastmodify` DATETIME NULL,
  PRIMARY KEY (`prod_id`),
  UNIQUE KEY `prod_code` (`prod_code`),
  KEY `prod_name` (`prod_name`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `product_d` (
  `prod_id` INT NOT NULL,
  `seq` SMALLINT NOT NULL,
  `barcode` VARCHAR(30) NULL,
  `option_name` VARCHAR(80) NULL,
  `price_add` DOUBLE NULL,
  PRIMARY KEY (`prod_id`, `seq`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `app_menu` (
  `menu_id` INT NOT NULL,
  `menu_name` VARCHAR(80) NULL,
  `parent_id` INT NULL,
  `sort_no` SMALLINT NULL,
  PRIMARY KEY (`menu_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `priv_menu` (
  `user_id` VARCHAR(20) NOT NULL,
  `menu_id` INT NOT NULL,
  `can_read` TINYINT UNSIGNED NULL,
  `can_write` TINYINT UNSIGNED NULL,
  PRIMARY KEY (`user_id`, `menu_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `accounts` (
  `acc_id` INT NOT NULL,
  `acc_name` VARCHAR(80) NULL,
  `bank_name` VARCHAR(60) NULL,
  `acc_no` VARCHAR(30) NULL,
  `balance` DOUBLE NULL,
  PRIMARY KEY (`acc_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `cashbook` (
  `cash_id` INT NOT NULL,
  `cash_date` DATETIME NULL,
  `acc_id` INT NULL,
  `in_amt` DOUBLE NULL,
  `out_amt` DOUBLE NULL,
  `summary` VARCHAR(200) NULL,
  `cust_id` INT NULL,
  PRIMARY KEY (`cash_id`),
  KEY `cash_date` (`cash_date`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `schedules` (
  `sch_id` INT NOT NULL,
  `sch_date` DATETIME NULL,
  `title` VARCHAR(200) NULL,
  `content` TEXT NULL,
  `done` TINYINT UNSIGNED NULL,
  PRIMARY KEY (`sch_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `estimate_m` (
  `esti_id` INT NOT NULL,
  `esti_no` VARCHAR(20) NULL,
  `estidate` DATE NULL,
  `cust_id` INT NULL,
  `total_amt` DOUBLE NULL,
  `tax_amt` DOUBLE NULL,
  `memo` TEXT NULL,
  PRIMARY KEY (`esti_id`),
  KEY `cust_id` (`cust_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `estimate_d` (
  `esti_id` INT NOT NULL,
  `seq` SMALLINT NOT NULL,
  `prod_id` INT NULL,
  `prod_name` VARCHAR(120) NULL,
  `qty` DOUBLE NULL,
  `price` DOUBLE NULL,
  `amount` DOUBLE NULL,
  PRIMARY KEY (`esti_id`, `seq`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `sale_m` (
  `sale_id` INT NOT NULL,
  `sale_no` VARCHAR(20) NULL,
  `sale_date` DATETIME NULL,
  `cust_id` INT NULL,
  `total_amt` DOUBLE NULL,
  `tax_amt` DOUBLE NULL,
  `paid_amt` DOUBLE NULL,
  `memo` TEXT NULL,
  PRIMARY KEY (`sale_id`),
  UNIQUE KEY `sale_no` (`sale_no`),
  KEY `sale_date` (`sale_date`),
  KEY `cust_id` (`cust_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `sale_d` (
  `sale_id` INT NOT NULL,
  `seq` SMALLINT NOT NULL,
  `prod_id` INT NULL,
  `prod_name` VARCHAR(120) NULL,
  `qty` DOUBLE NULL,
  `price` DOUBLE NULL,
  `amount` DOUBLE NULL,
  PRIMARY KEY (`sale_id`, `seq`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `receive` (
  `recv_id` INT NOT NULL,
  `recv_date` DATETIME NULL,
  `cust_id` INT NULL,
  `amount` DOUBLE NULL,
  `method` VARCHAR(40) NULL,
  `memo` VARCHAR(400) NULL,
  PRIMARY KEY (`recv_id`),
  KEY `cust_id` (`cust_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `taxlist_m` (
  `tax_id` INT NOT NULL,
  `tax_no` VARCHAR(30) NULL,
  `issue_date` DATETIME NULL,
  `cust_id` INT NULL,
  `supply_amt` DOUBLE NULL,
  `tax_amt` DOUBLE NULL,
  `status` TINYINT UNSIGNED NULL,
  PRIMARY KEY (`tax_id`)
) ENGINE=InnoDB;

CREATE TABLE IF NOT EXISTS `taxlist_d` (
  `tax_id` INT NOT NULL,
  `seq` SMALLINT NOT NULL,
  `item_name` VARCHAR(120) NULL,
  `qty` DOUBLE NULL,
  `price` DOUBLE NULL,
  `supply_amt` DOUBLE NULL,
  `tax_amt` DOUBLE NULL,
  PRIMARY KEY (`tax_id`, `seq`)
) ENGINE=InnoDB;
