// Included right before the case headers of a case-body test (case_bodies_*_test.cpp),
// with case_bodies.h right after them: TEST_F then makes each suite test a plain class,
// <Fixture>_<Test>_Body, whose body a unit test calls and whose failures it records.
// No include guard: it redefines TEST_F wherever it is included.
#undef TEST_F
#define TEST_F(Fixture, TestName)                                                              \
    struct Fixture##_##TestName##_Body : Fixture {                                             \
        void TestBody() override;                                                              \
    };                                                                                         \
    void Fixture##_##TestName##_Body::TestBody()
