(begin
  (define n 10)
  (define acc 1)
  (define fact
    (lambda ()
      (cond ((< n 1) acc)
            (else (begin (define acc (* acc n))
                         (define n (- n 1))
                         (fact))))))
  (fact))
